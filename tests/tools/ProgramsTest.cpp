// The installed programs' command lines and the workspace a new site starts with.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BigJob.h"
#include "ComMainForm.h"
#include "JobRowWriter.h"
#include "MessageBoxWatcher.h"
#include "ProgramRun.h"
#include "ReadBack.h"
#include "RecordBook.h"
#include "RecordingDriver.h"
#include "Text.h"
#include "Version.h"
#include "Workspace.h"

namespace velkor {
namespace {

using test::Outcome;
using test::run;

TEST(Programs, EachAnswersHelpAndVersionAndRefusesAnUnknownOption) {
    const std::pair<const char*, const char*> programs[] = {
        {VELKOR_PROGRAM, "velkor"},
        {VELKOR_MAKEDB, "velkor-makedb"},
        {VELKOR_SIMULATOR, "velkor-simulator"},
        {VELKOR_CHECKDB, "velkor-checkdb"},
        {VELKOR_REPORT, "velkor-report"},
    };
    for (const auto& [program, name] : programs) {
        const Outcome help = run(program, {QStringLiteral("--help")});
        EXPECT_EQ(help.exitCode, 0) << name << help.err;
        EXPECT_EQ(help.out.rfind(std::string("usage: ") + name, 0), 0u) << help.out;
        EXPECT_NE(help.out.find("--version"), std::string::npos) << name;
        EXPECT_EQ(run(program, {QStringLiteral("-h"), QStringLiteral("--colour")}).out, help.out);

        const Outcome version = run(program, {QStringLiteral("--version")});
        EXPECT_EQ(version.exitCode, 0) << name;
        EXPECT_EQ(version.out, std::string(name) + " " + kVersion + "\n");

        const Outcome unknown = run(program, {QStringLiteral("--colour")});
        EXPECT_EQ(unknown.exitCode, 2) << name;
        EXPECT_EQ(unknown.err.rfind(std::string(name) + ": unknown option --colour\n\nusage: ", 0),
                  0u)
            << unknown.err;
        EXPECT_TRUE(unknown.out.empty()) << name;
    }
    const Outcome console = run(VELKOR_PROGRAM, {QStringLiteral("--help")});
    EXPECT_NE(console.out.find("--database DATABASE"), std::string::npos);
    EXPECT_NE(console.out.find("current"), std::string::npos);
}

// Records of two workstations, one batch with a Cyrillic name: the report picks by batch, time
// and workstation and keeps every letter.
TEST(Programs, TheReportPrintsTheChosenRecordsAsCsvWithTheirCyrillicIntact) {
    test::Workspace workspace;
    workspace.createDatabase();
    {
        JobDatabase database;
        database.connect(workspace.file("KV.GDB"));
        JobRowWriter rows(database);
        const auto piece =
            rows.insertPiece(rows.insertBatch(cp1251("Окна-7")),
                             {"1000.0", "45.0", "45.0", "1", "1", "1", "700000001", std::nullopt});
        rows.commit();
        const auto book = makeFirebirdRecordBook();
        book->open(workspace.file("KV.GDB"));
        for (const char* workstation : {"ws-1", "ws-2"}) {
            DispatchRecord record;
            record.key = workstation;
            record.begun = std::chrono::system_clock::now();
            record.workstation = workstation;
            record.account = "operator";
            record.scan = "700000001";
            record.barcode = 700000001;
            record.piece = piece;
            record.commands = {"R_POS600"};
            record.message = cp1251("текст; с \"кавычками\"");
            book->enter(record, std::chrono::hours(workstation == std::string("ws-1") ? 2 : 0));
        }
    }
    const QString database = QString::fromStdString(workspace.file("KV.GDB"));
    const Outcome all = run(VELKOR_REPORT, {QStringLiteral("--batch=Окна-7"), database});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out.substr(0, all.out.find("\r\n")),
              "Время;Рабочее место;Учётная запись;Скан;Деталь;Партия;Режим;Команды;Итог;Поле;"
              "Сообщение;Счётчик;Ключ записи");
    EXPECT_EQ(std::ranges::count(all.out, '\n'), 3);
    EXPECT_NE(all.out.find(";ws-1;operator;700000001;"), std::string::npos);
    EXPECT_LT(all.out.find(";ws-1;"), all.out.find(";ws-2;"));  // oldest first
    EXPECT_NE(all.out.find(";Окна-7;0;R_POS600;SENT;;\"текст; с \"\"кавычками\"\"\";;ws-2\r\n"),
              std::string::npos)
        << all.out;

    const std::time_t anHourAgo = std::time(nullptr) - 3600;
    char from[32];
    std::strftime(from, sizeof from, "%Y-%m-%d %H:%M:%S", std::localtime(&anHourAgo));
    const Outcome recent = run(
        VELKOR_REPORT, {QStringLiteral("--bom"), QStringLiteral("--from"),
                        QString::fromLatin1(from), QStringLiteral("--workstation=ws-2"), database});
    EXPECT_EQ(recent.out.rfind("\xEF\xBB\xBF", 0), 0u);
    EXPECT_EQ(std::ranges::count(recent.out, '\n'), 2);
    EXPECT_EQ(run(VELKOR_REPORT, {QStringLiteral("--batch=B-0"), database}).out.find('\n'),
              all.out.find('\n'));  // nothing but the heading
    const Outcome badTime =
        run(VELKOR_REPORT, {QStringLiteral("--from=2026-13-45 10:00"), database});
    EXPECT_EQ(badTime.exitCode, 1);
    EXPECT_EQ(badTime.err.rfind("velkor-report: ", 0), 0u);
}

TEST(Programs, AWorkspaceIsMadeOnceAndTheConsoleStartsInIt) {
    test::Workspace parent;
    const std::string site = parent.file("site");
    const QStringList make = {QStringLiteral("--workspace"), QString::fromStdString(site)};
    const Outcome first = run(VELKOR_MAKEDB, make);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    for (const char* entry : {"site/KV.GDB", "site/log", "site/Job"}) {
        EXPECT_TRUE(parent.exists(entry)) << entry;
    }
    EXPECT_EQ(parent.readFile("site/Morvel.INI"), test::counterIni(0));

    // A site's database is never replaced by accident; the count in Morvel.INI stays too.
    parent.writeFile("site/Morvel.INI", test::counterIni(77));
    const auto made = std::filesystem::last_write_time(site + "/KV.GDB");
    const Outcome again = run(VELKOR_MAKEDB, make);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("KV.GDB exists; --force replaces it"), std::string::npos) << again.err;
    EXPECT_EQ(std::filesystem::last_write_time(site + "/KV.GDB"), made);
    const Outcome forced = run(VELKOR_MAKEDB, QStringList{QStringLiteral("--force")} + make);
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(parent.readFile("site/Morvel.INI"), test::counterIni(77));
    // The replaced database is kept beside the new one, under a stamped name.
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(site)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("KV-") && name.ends_with(".GDB")) {
            kept.push_back(name);
        }
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(forced.out.find("kept as " + site + "/" + kept[0]), std::string::npos) << forced.out;
    EXPECT_EQ(std::filesystem::last_write_time(site + "/" + kept[0]), made);
    parent.writeFile("site/Morvel.INI", test::counterIni(0));

    test::CurrentDirectory current{site};
    test::RecordingDriver::Log line;
    test::MessageBoxWatcher boxes;
    Console console({.serialDriver = test::RecordingDriver::factory(line)});
    TForm1 window(console);
    EXPECT_TRUE(boxes.seen().empty());
    ASSERT_FALSE(console.eventLog().lines().empty());
    EXPECT_EQ(console.eventLog().lines().front(),
              std::filesystem::canonical(site).string() + "/KV.GDB");
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Label_CNT"))->text(), QStringLiteral("0"));
    EXPECT_EQ(console.variables().Port, "ttyUSB0");  // the defaults' port
    EXPECT_EQ(line.writtenSoFar().substr(line.writtenSoFar().size() - 7), "CLR_CNT");
}

// A variables file as an editor saved it: in Windows-1251, or in UTF-8 with a byte order mark.
// Either way the keys and the password arrive as the service person typed them; a character
// that Windows-1251 lacks is refused with its line rather than stored as "?".
TEST(Programs, AVariablesFileInEitherEncodingArrivesAsTyped) {
    test::Workspace workspace;
    const std::pair<const char*, std::string> files[] = {
        {"cp1251", "Qty_Imp_mm=16.3\r\npwd=" + cp1251("пароль") + "\r\n"},
        {"utf8", "\xEF\xBB\xBFQty_Imp_mm=16.3\npwd=пароль\n"},
    };
    for (const auto& [name, contents] : files) {
        SCOPED_TRACE(name);
        workspace.writeFile(std::string(name) + ".txt", contents);
        const std::string database = workspace.file(std::string(name) + ".GDB");
        const Outcome made =
            run(VELKOR_MAKEDB, {QStringLiteral("--variables"),
                                QString::fromStdString(workspace.file(name) + ".txt"),
                                QString::fromStdString(database)});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        const auto rows =
            test::readBack(database, "select kods, var_str from variables order by kods");
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0][0].asText(), "Qty_Imp_mm");
        EXPECT_EQ(rows[1][1].asText(), cp1251("пароль"));
    }
    workspace.writeFile("foreign.txt", "pwd=ok\nVOZVRAT=日本\n");
    const Outcome refused =
        run(VELKOR_MAKEDB, {QString::fromStdString("--variables=" + workspace.file("foreign.txt")),
                            QString::fromStdString(workspace.file("foreign.GDB"))});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("foreign.txt, line 2"), std::string::npos) << refused.err;
}

// A variable the console could not read is named with its line; a failure leaves no database
// behind; a database the engine can no longer read is a fault that a rebuild cannot save, left
// as it is for the last backup.
TEST(Programs, TheDatabaseToolsSayExactlyWhatIsWrong) {
    test::Workspace workspace;
    workspace.writeFile("variables.txt", "Qty_Imp_mm=16.3\nL_upor=50mm\n");
    const QString database = QString::fromStdString(workspace.file("KV.GDB"));
    const Outcome unreadable =
        run(VELKOR_MAKEDB, {QStringLiteral("--variables"),
                            QString::fromStdString(workspace.file("variables.txt")), database});
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_NE(unreadable.err.find("variables.txt, line 2, L_upor: '50mm' is not a valid floating "
                                  "point value"),
              std::string::npos)
        << unreadable.err;
    const Outcome missingJob =
        run(VELKOR_MAKEDB, {QStringLiteral("--job"), QStringLiteral("missing.kv"), database});
    EXPECT_EQ(missingJob.exitCode, 1);
    EXPECT_FALSE(workspace.exists("KV.GDB"));

    ASSERT_EQ(
        run(VELKOR_MAKEDB, {QStringLiteral("--pieces"), QStringLiteral("2000"), database}).exitCode,
        0);
    {
        std::fstream file(workspace.file("KV.GDB"),
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(8192 * 40);
        const std::string garbage(8192 * 3, '\xAB');  // pages overwritten
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    const Outcome damaged = run(VELKOR_CHECKDB, {database});
    EXPECT_EQ(damaged.exitCode, 1) << damaged.err;
    EXPECT_NE(damaged.err.find("has faults that validation cannot mend"), std::string::npos)
        << damaged.err;
    EXPECT_NE(damaged.err.find("velkor-checkdb --rebuild " + database.toStdString()),
              std::string::npos)
        << damaged.err;
    const Outcome rebuild = run(VELKOR_CHECKDB, {QStringLiteral("--rebuild"), database});
    EXPECT_EQ(rebuild.exitCode, 1) << rebuild.err;
    EXPECT_NE(rebuild.err.find("cannot be backed up, so it is left as it is"), std::string::npos)
        << rebuild.err;
    EXPECT_NE(rebuild.err.find("Restore your last backup"), std::string::npos) << rebuild.err;
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(workspace.path())) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"KV.GDB", "variables.txt"}));
}

// The README's recovery steps after a kill -9 in the middle of a load: the check releases the
// pages the import had taken, the file loads whole, and the check then calls the index warnings
// that the cut-off import and the whole one left harmless, the data being right; the rebuild it
// names clears them, keeping the old file beside the new one.
TEST(Programs, AnImportKilledMidwayThenLoadedWholeLeavesOnlyWarningsThatARebuildClears) {
    constexpr int kPieces = 40000;
    test::Workspace workspace;
    test::putBigJobIn(workspace, kPieces);
    const std::string database = workspace.file("KV.GDB");
    const QString databaseArgument = QString::fromStdString(database);
    const QStringList load = {QStringLiteral("--existing"), QStringLiteral("--job"),
                              QString::fromStdString(workspace.file("Job/big.kv")),
                              databaseArgument};
    {
        const auto emptySize = std::filesystem::file_size(database);
        QProcess import;
        import.start(QStringLiteral(VELKOR_MAKEDB), load);
        ASSERT_TRUE(import.waitForStarted());
        while (import.state() == QProcess::Running &&
               std::filesystem::file_size(database) < emptySize + 2 * 1024 * 1024) {
            import.waitForFinished(5);
        }
        ASSERT_EQ(import.state(), QProcess::Running)
            << "the import ended before it could be killed";
        import.kill();
        import.waitForFinished();
    }
    const Outcome afterKill = run(VELKOR_CHECKDB, {databaseArgument});
    EXPECT_EQ(afterKill.exitCode, 0) << afterKill.err;
    EXPECT_NE(afterKill.out.find("orphan pages released; no errors and no warnings now"),
              std::string::npos)
        << afterKill.out;

    const Outcome whole = run(VELKOR_MAKEDB, load);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    const Outcome afterLoad = run(VELKOR_CHECKDB, {databaseArgument});
    EXPECT_EQ(afterLoad.exitCode, 0) << afterLoad.err;
    EXPECT_TRUE(afterLoad.err.empty()) << afterLoad.err;
    EXPECT_NE(afterLoad.out.find(database + ": the data is sound; what validation still reports "
                                            "is harmless:\n"),
              std::string::npos)
        << afterLoad.out;
    EXPECT_NE(afterLoad.out.find("index warnings"), std::string::npos) << afterLoad.out;
    EXPECT_NE(afterLoad.out.find("velkor-checkdb --rebuild " + database), std::string::npos);
    EXPECT_EQ(test::bigJobPiecesNotFound(database, kPieces), 0);

    const Outcome rebuilt = run(VELKOR_CHECKDB, {QStringLiteral("--rebuild"), databaseArgument});
    ASSERT_EQ(rebuilt.exitCode, 0) << rebuilt.err;
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(workspace.path())) {
        const std::string name = entry.path().filename().string();
        if (name != "KV.GDB" && name != "Job") {
            kept.push_back(name);
        }
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(kept[0].starts_with("KV-") && kept[0].ends_with(".GDB")) << kept[0];
    EXPECT_EQ(rebuilt.out, database +
                               ": rebuilt from a gbak backup and restore; no errors and no "
                               "warnings\n" +
                               database + ": the file it replaced is kept as " +
                               workspace.file(kept[0]) + "\n");
    EXPECT_EQ(run(VELKOR_CHECKDB, {databaseArgument}).out,
              database + ": no errors and no warnings\n");
    EXPECT_EQ(test::bigJobPiecesNotFound(database, kPieces), 0);
}

// Root makes a site's workspace in a folder that an operator account could write before: a
// link planted as Morvel.INI (dangling, so that writing it would make the file it names) is
// refused, and nothing is made where it points.
TEST(Programs, AWorkspaceIsNeverWrittenThroughALink) {
    test::Workspace parent;
    std::filesystem::create_directory(parent.file("site"));
    std::filesystem::create_symlink(parent.file("elsewhere/planted.INI"),
                                    parent.file("site/Morvel.INI"));
    std::filesystem::create_directory(parent.file("elsewhere"));
    const Outcome made = run(VELKOR_MAKEDB, {QStringLiteral("--workspace"),
                                             QString::fromStdString(parent.file("site"))});
    EXPECT_EQ(made.exitCode, 1);
    EXPECT_NE(made.err.find("Morvel.INI is a symbolic link"), std::string::npos) << made.err;
    EXPECT_FALSE(parent.exists("elsewhere/planted.INI"));
    EXPECT_FALSE(parent.exists("site/KV.GDB"));
}

}  // namespace
}  // namespace velkor
