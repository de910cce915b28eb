#include "RunMarker.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>

namespace velkor {
namespace {

// One folder, the consoles that start in it one after another or side by side.
TEST(RunMarker, TellsAnUncleanEndFromACleanOneAndRefusesASecondConsole) {
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("velkor.running")).toStdString();
    {
        RunMarker first{path};
        EXPECT_EQ(first.claim("2026-12-09 06:00:00"), std::nullopt);
        RunMarker second{path};
        try {
            second.claim("2026-12-09 06:05:00");
            ADD_FAILURE() << "a second console claimed the folder";
        } catch (const RunMarker::Held& held) {
            EXPECT_EQ(held.startedAt(), "2026-12-09 06:00:00");
        }
        EXPECT_FALSE(second.claimed());
    }  // killed: the marker stays, unlocked

    RunMarker afterCrash{path};
    EXPECT_EQ(afterCrash.claim("2026-12-09 07:00:00"), "2026-12-09 06:00:00");
    afterCrash.release();
    EXPECT_FALSE(std::filesystem::exists(path));
    RunMarker afterCleanEnd{path};
    EXPECT_EQ(afterCleanEnd.claim("2026-12-09 08:00:00"), std::nullopt);
}

TEST(RunMarker, AMarkerThatIsNoRegularFileIsRefusedUntouched) {
    QTemporaryDir folder;
    const std::string target = folder.filePath(QStringLiteral("elsewhere")).toStdString();
    const std::string path = folder.filePath(QStringLiteral("velkor.running")).toStdString();
    std::filesystem::create_symlink(target, path);
    RunMarker marker{path};
    EXPECT_THROW(marker.claim("2026-12-09 06:00:00"), VelkorError);
    EXPECT_FALSE(std::filesystem::exists(target));

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_THROW(marker.claim("2026-12-09 06:00:00"), VelkorError);
    EXPECT_FALSE(marker.claimed());
}

}  // namespace
}  // namespace velkor
