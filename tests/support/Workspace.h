#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velkor::test {

// A saved production count as Morvel.INI holds it.
std::string counterIni(long long count);

// A temporary folder that stands for the console's start-up directory; removed afterwards.
class Workspace {
  public:
    Workspace();
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Creates KV.GDB here as velkor-makedb does (a copy of the empty one it made for the tests,
    // when there are to be no pieces) and adds these VARIABLES rows (key and value in
    // UTF-8, stored in Windows-1251 exactly as given).
    void createDatabase(const std::vector<std::pair<std::string, std::string>>& variables = {},
                        int pieces = 0) const;

    // A site's full set of machine variables (the defaults of a new workspace) with these
    // values in place of the defaults' or added to them; for what needs every setting (the
    // settings push).
    static std::vector<std::pair<std::string, std::string>> siteVariables(
        const std::vector<std::pair<std::string, std::string>>& changed);

    void writeFile(const std::string& name, const std::string& contents) const;
    std::string readFile(const std::string& name) const;
    bool exists(const std::string& name) const;

  private:
    std::string path_;
};

// Makes the workspace the current directory for the lifetime of this object.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const std::string& path);
    ~CurrentDirectory();

  private:
    std::string previous_;
};

}  // namespace velkor::test
