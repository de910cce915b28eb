#include "ErrorBox.h"

#include <gtest/gtest.h>

#include <QTimer>

#include "MessageBoxWatcher.h"
#include "Text.h"
#include "VelkorError.h"
#include "WaitUntil.h"

namespace velkor {
namespace {

TEST(ErrorBoxText, AddsAFullStopOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(errorBoxText("'abc' is not a valid integer value"),
              "'abc' is not a valid integer value.");
    EXPECT_EQ(errorBoxText("Port Not Open"), "Port Not Open.");
    EXPECT_EQ(errorBoxText("Unable to open com port (Error: 2)"),
              "Unable to open com port (Error: 2)");
    EXPECT_EQ(errorBoxText("Done."), "Done.");
    EXPECT_EQ(errorBoxText("100%"), "100%");
    EXPECT_EQ(errorBoxText("a/"), "a/.");
    EXPECT_EQ(errorBoxText("7"), "7.");
    EXPECT_EQ(errorBoxText(cp1251("Ошибка")), cp1251("Ошибка."));
    EXPECT_EQ(errorBoxText(""), "");
}

TEST(ErrorBox, AnExceptionEscapingAnEventHandlerIsShownAndTheEventLoopGoesOn) {
    test::MessageBoxWatcher watcher;
    bool laterEventRan = false;
    QTimer::singleShot(0, [] { throw VelkorError(cp1251("Нет связи")); });
    QTimer::singleShot(30, [&] { laterEventRan = true; });
    ASSERT_TRUE(test::waitUntil([&] { return laterEventRan && !watcher.seen().empty(); }));
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].title, QStringLiteral("Velkor QN704"));
    EXPECT_EQ(watcher.seen()[0].text, QString::fromUtf8("Нет связи."));
    EXPECT_EQ(watcher.seen()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(laterEventRan);
}

}  // namespace
}  // namespace velkor
