#include <gtest/gtest.h>

#include <filesystem>

#include "Console.h"
#include "Text.h"
#include "Workspace.h"

namespace velkor {
namespace {

// The menu entry starts the console with its site's folder: where nobody has made it yet, the
// operator learns how it is made instead of a console without a database.
TEST(WorkspaceEntry, AMissingWorkspaceSaysHowOneIsMadeAndAnExistingOneIsEntered) {
    const test::Workspace workspace;
    const std::string missing = workspace.file("srv/velkor");
    const test::CurrentDirectory staying{workspace.path()};
    try {
        Console::enterWorkspace(missing);
        ADD_FAILURE() << "entered a folder that is not there";
    } catch (const VelkorError& error) {
        EXPECT_EQ(std::string(error.what()),
                  cp1251("Нет рабочей папки консоли ") + missing +
                      cp1251(" (её нет). Сервисный инженер создаёт её командой\n\nvelkor-makedb "
                             "--workspace ") +
                      missing);
    }
    EXPECT_EQ(std::filesystem::current_path(), workspace.path());

    std::filesystem::create_directories(missing);
    Console::enterWorkspace(missing);
    EXPECT_EQ(std::filesystem::current_path(), missing);
}

}  // namespace
}  // namespace velkor
