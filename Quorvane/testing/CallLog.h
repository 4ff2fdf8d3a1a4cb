#pragma once
// The calls made on a test's doubles, one line each, in order across the doubles that share it. A rig that
// looks at some calls only says which lines it ignores.
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct CallLog {
    std::vector<std::string> list;
    // Lines for which it answers true are not kept.
    std::function<bool(const std::string&)> ignores;

    void add(std::string line) {
        if (!ignores || !ignores(line))
            list.push_back(std::move(line));
    }
    // The lines since the last take.
    std::vector<std::string> take() { return std::exchange(list, {}); }
    // The lines that start with the prefix, in order.
    std::vector<std::string> starting(const std::string& prefix) const {
        std::vector<std::string> lines;
        for (const auto& line : list)
            if (line.starts_with(prefix))
                lines.push_back(line);
        return lines;
    }
};

}  // namespace testsupport
