// Files that replace older ones ("dlg_path", program files, the simulated
// unit's state): after a kill at any moment the file is the complete old or
// the complete new one, and no temporary outlives the process that made it.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/DialogPaths.h"
#include "base/AtomicFile.h"
#include "image/ProgramSaver.h"
#include "sim/UnitState.h"

namespace vrx4 {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

class Folder {
 public:
  Folder() {
    std::string t = (fs::temp_directory_path() / "vrx4-replace-XXXXXX").string();
    path_ = ::mkdtemp(t.data());
  }
  ~Folder() { fs::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string folder() const { return path_.string() + "/"; }
  // Every name in the folder that is a temporary of `target`.
  std::vector<std::string> temporaries(const std::string& target) const {
    std::vector<std::string> t;
    for (const auto& e : fs::directory_iterator(path_))
      if (isTemporaryOf(e.path().filename().string(), target)) t.push_back(e.path().filename().string());
    return t;
  }

 private:
  fs::path path_;
};

Bytes readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(AtomicFile, ReplacesWholeAndLeavesNothingBehind) {
  Folder dir;
  const std::string target = dir.file("data.bin");
  ASSERT_TRUE(writeFileAtomically(target, "old", 3, 0644));
  EXPECT_EQ(readAll(target), (Bytes{'o', 'l', 'd'}));

  // Discarded: the old file stays, no temporary.
  {
    AtomicFile f;
    ASSERT_TRUE(f.open(target));
    ASSERT_EQ(::write(f.fd(), "half", 4), 4);
  }
  EXPECT_EQ(readAll(target), (Bytes{'o', 'l', 'd'}));
  EXPECT_TRUE(dir.temporaries("data.bin").empty());

  // Temporaries of dead processes (and the simulator's older names) go with
  // the next save; those of a running process and of other targets stay.
  pid_t child = ::fork();
  if (child == 0) _exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = "." + std::string("data.bin.") + std::to_string(child) + ".7.part";
  const std::string oldStyle = "data.bin.tmp" + std::to_string(child);
  const std::string live = ".data.bin." + std::to_string(::getppid()) + ".1.part";
  const std::string other = ".other.bin." + std::to_string(child) + ".1.part";
  for (const std::string& n : {dead, oldStyle, live, other}) std::ofstream(dir.file(n)) << "x";
  EXPECT_FALSE(isTemporaryOf("data.bin.tmp", "data.bin"));
  EXPECT_FALSE(isTemporaryOf(".data.bin.12.part.x", "data.bin"));
  ASSERT_TRUE(writeFileAtomically(target, "new", 3, 0644));
  EXPECT_EQ(readAll(target), (Bytes{'n', 'e', 'w'}));
  EXPECT_FALSE(fs::exists(dir.file(dead)));
  EXPECT_FALSE(fs::exists(dir.file(oldStyle)));
  EXPECT_TRUE(fs::exists(dir.file(live)));
  EXPECT_TRUE(fs::exists(dir.file(other)));

  // A folder that is not there: refused, nothing made.
  std::string why;
  EXPECT_FALSE(writeFileAtomically(dir.file("none/x"), "a", 1, 0644, &why));
  EXPECT_FALSE(why.empty());
}

// One kind of save, run in a child that writes version A, B, A, B, ... and
// reports each save done on a pipe; the parent kills it at a random point.
struct SaveKind {
  const char* name;
  std::string target;
  std::function<bool(int version)> save;  // runs in the child
  std::vector<Bytes> versions;            // the two complete contents
};

struct KillCounts {
  int kills = 0;
  int leftAfterKill = 0;  // temporaries right after a kill (named only in a tiny window)
};

KillCounts killWhileSaving(const Folder& dir, const SaveKind& kind, int kills, std::mt19937& rng) {
  KillCounts counts;
  const std::string name = fs::path(kind.target).filename().string();
  for (int k = 0; k < kills; ++k) {
    int report[2];
    if (::pipe(report) != 0) break;
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(report[0]);
      for (int i = 0;; ++i) {
        if (!kind.save(i & 1)) _exit(3);
        const char b = 1;
        if (::write(report[1], &b, 1) != 1) _exit(4);
      }
    }
    ::close(report[1]);
    // After a random number of finished saves and a random spin into the
    // next one.
    const int saves = int(rng() % 3);
    char b;
    for (int i = 0; i < saves; ++i)
      if (::read(report[0], &b, 1) != 1) break;
    const unsigned spin = rng() % 400000;
    for (unsigned i = 0; i < spin; ++i) {
      asm volatile("" ::: "memory");
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(report[0]);
    EXPECT_TRUE(WIFSIGNALED(status)) << kind.name << ": the saving child ended by itself";
    ++counts.kills;

    if (fs::exists(kind.target)) {
      const Bytes now = readAll(kind.target);
      EXPECT_TRUE(now == kind.versions[0] || now == kind.versions[1])
          << kind.name << ": a kill left " << now.size() << " bytes that are neither version";
    }
    counts.leftAfterKill += int(dir.temporaries(name).size());
  }
  // The next save clears whatever a kill left.
  EXPECT_TRUE(kind.save(0));
  EXPECT_TRUE(dir.temporaries(name).empty()) << kind.name;
  return counts;
}

TEST(KilledSaves, LeaveTheOldOrTheNewFileAndNoTemporary) {
  Folder dir;
  std::mt19937 rng(20261209);
  std::vector<SaveKind> kinds;

  {
    SaveKind k{"dlg_path", dir.file("dlg_path"), {}, {}};
    for (int v = 0; v < 2; ++v) {
      DialogPaths p;
      p.setSlot(kProgramFolderSlot, dir.folder());
      p.setSlot(kUserFileFolderSlot, v ? "/b/" : "/a/");
      k.versions.emplace_back(p.bytes.begin(), p.bytes.end());
    }
    const std::string folder = dir.folder();
    k.save = [folder](int v) {
      DialogPaths p;
      p.setSlot(kProgramFolderSlot, folder);
      p.setSlot(kUserFileFolderSlot, v ? "/b/" : "/a/");
      return saveDialogPaths(p);
    };
    kinds.push_back(std::move(k));
  }
  {
    // 256 KiB of image: the save takes long enough to be killed inside.
    static std::vector<uint8_t> images[2] = {std::vector<uint8_t>(0x40000, 0x11), std::vector<uint8_t>(0x40000, 0x22)};
    const std::string path = dir.file("app.hex");
    auto request = [path](int v) {
      SaveRequest r;
      r.image = images[v].data();
      r.areaStart = 0;
      r.areaEnd = 0x3FFFF;
      r.path = path;
      return r;
    };
    SaveKind k{"program file", path, {}, {}};
    for (int v = 0; v < 2; ++v) {
      std::atomic<uint32_t> pos{0};
      ASSERT_EQ(saveProgramFile(request(v), pos), SaveResult::Ok);
      k.versions.push_back(readAll(path));
    }
    k.save = [request](int v) {
      std::atomic<uint32_t> pos{0};
      return saveProgramFile(request(v), pos) == SaveResult::Ok;
    };
    kinds.push_back(std::move(k));
  }
  {
    const std::string path = dir.file("unit-state");
    auto state = [](int v) {
      UnitState s;
      s.settings.userFileName = v ? "/b.hex" : "/a.hex";
      s.userBuffer[100] = uint8_t(v);
      return s;
    };
    SaveKind k{"simulator state", path, {}, {}};
    std::string why;
    for (int v = 0; v < 2; ++v) {
      ASSERT_TRUE(saveUnitState(path, state(v), why, kStateSettings)) << why;
      k.versions.push_back(readAll(path));
    }
    k.save = [path, state](int v) {
      std::string w;
      return saveUnitState(path, state(v), w, kStateSettings);
    };
    kinds.push_back(std::move(k));
  }

  for (const SaveKind& k : kinds) {
    const KillCounts c = killWhileSaving(dir, k, 100, rng);
    EXPECT_EQ(c.kills, 100) << k.name;
    RecordProperty(std::string(k.name) + " temporaries right after a kill", c.leftAfterKill);
    std::printf("%s: %d kills, %d temporaries right after a kill\n", k.name, c.kills, c.leftAfterKill);
  }
}

}  // namespace
}  // namespace vrx4
