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
// is replaced by one of units per child.
int runGang(Events& events, const std::string& self, const std::vector<std::string>& args,
            const std::vector<std::string>& units);

// The child's command line for one unit: args without --unit and --json,
// then --unit U --json.
std::vector<std::string> childArgs(const std::vector<std::string>& args, const std::string& unit);

}  // namespace vrx4::cli
