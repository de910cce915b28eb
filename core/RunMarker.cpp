#include "RunMarker.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "AtomicFile.h"

namespace velkor {

std::optional<std::string> RunMarker::begin(const std::string& startedAt) {
    std::optional<std::string> earlier;
    if (std::ifstream in(path_, std::ios::binary); in) {
        std::ostringstream text;
        text << in.rdbuf();
        earlier = text.str();
        while (!earlier->empty() && (earlier->back() == '\n' || earlier->back() == '\r')) {
            earlier->pop_back();
        }
    }
    replaceFile(path_, startedAt + "\n");
    return earlier;
}

void RunMarker::end() {
    ::unlink(path_.c_str());
}

}  // namespace velkor
