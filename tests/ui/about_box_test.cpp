#include "ui/about_box.h"

#include <gtest/gtest.h>

#include <QLabel>

namespace tarnwick::test {
namespace {

TEST(AboutBox, ShowsTheVersionOnceBesideTheName) {
  const TAboutBox box(nullptr);
  const QString version = QStringLiteral(TARNWICK_VERSION);
  int shown = 0;
  for (const QLabel* label : box.findChildren<QLabel*>()) shown += label->text().count(version);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), version);
  EXPECT_EQ(box.windowTitle(), "About Tarnwick");
}

}  // namespace
}  // namespace tarnwick::test
