#include "Workspace.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FirebirdSession.h"
#include "Text.h"

namespace velkor::test {

std::string counterIni(long long count) {
    return "[Main]\r\nCNT=" + std::to_string(count) + "\r\n";
}

Workspace::Workspace() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velkor-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary workspace");
    }
    path_ = pattern;
}

Workspace::~Workspace() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void Workspace::createDatabase(const std::vector<std::pair<std::string, std::string>>& variables,
                               int pieces) const {
    if (pieces == 0) {
        // The empty database the build made with velkor-makedb.
        std::filesystem::copy_file(VELKOR_TEMPLATE_DATABASE, file("KV.GDB"));
    } else {
        const std::string command = std::string(VELKOR_MAKEDB) + " --pieces " +
                                    std::to_string(pieces) + " '" + file("KV.GDB") + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    }
    // Stored exactly as given, unreadable values too (as an isql session could leave them),
    // which velkor-makedb itself would refuse.
    FirebirdSession session;
    session.attach(file("KV.GDB"));
    session.startTransaction();
    for (const auto& [key, value] : variables) {
        session.execute("INSERT INTO VARIABLES (KODS, VAR_STR) VALUES (?, ?)",
                        {utf8ToCp1251(key), utf8ToCp1251(value)});
    }
    session.commit();
    session.detach();
}

std::vector<std::pair<std::string, std::string>> Workspace::siteVariables(
    const std::vector<std::pair<std::string, std::string>>& changed) {
    std::vector<std::pair<std::string, std::string>> variables;
    std::ifstream defaults(VELKOR_DEFAULT_VARIABLES);
    for (std::string line; std::getline(defaults, line);) {
        const auto equals = line.find('=');
        if (!line.starts_with('#') && equals != std::string::npos) {
            variables.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    for (const auto& change : changed) {
        const auto found = std::find_if(variables.begin(), variables.end(), [&](const auto& entry) {
            return entry.first == change.first;
        });
        if (found == variables.end()) {
            variables.push_back(change);
        } else {
            found->second = change.second;
        }
    }
    return variables;
}

void Workspace::writeFile(const std::string& name, const std::string& contents) const {
    std::ofstream(file(name), std::ios::binary) << contents;
}

std::string Workspace::readFile(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Workspace::exists(const std::string& name) const {
    return std::filesystem::exists(file(name));
}

CurrentDirectory::CurrentDirectory(const std::string& path)
    : previous_(std::filesystem::current_path().string()) {
    std::filesystem::current_path(path);
}

CurrentDirectory::~CurrentDirectory() {
    std::filesystem::current_path(previous_);
}

}  // namespace velkor::test
