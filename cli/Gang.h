#pragma once
// Gang programming: one vrx4-cli process per unit, all at the same time.
// Each child runs the same job on one unit and reports in JSON; its lines
// come out prefixed with the unit (JSON events carry it as "unit"), and the
// run ends with every unit's result and the highest of their statuses.
#include <string>
#include <vector>

namespace vrx4::cli {

class Events;

// args: the whole command line (after the program name); every --unit in it
// is replaced by one of units per child. recordPath: --record (the parent
// writes the line of a unit whose process ended without one).
int runGang(Events& events, const std::string& self, const std::vector<std::string>& args,
            const std::vector<std::string>& units, const std::string& recordPath);

// The child's command line for one unit: args without --unit and --json,
// then --unit U --json, and --gang-id ID when one is given.
std::vector<std::string> childArgs(const std::vector<std::string>& args, const std::string& unit,
                                   const std::string& gangId = {});

// How long the gang waits for its children after passing a signal on,
// before it ends them.
inline constexpr int kGangStopWaitMs = 20000;

}  // namespace vrx4::cli
