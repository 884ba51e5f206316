// The content digest against SHA-256 of the commands as they go out, each followed by a line feed.

#include "ContentDigest.h"
#include "DatabaseTable.h"
#include "FileCheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

TEST(ContentDigest, IsSha256OfTheCommandsEachFollowedByALineFeedAfterTheCodePage) {
  const struct {
    const char* What;
    std::string File;
    int KindPosition;
    const char* CodePage;  // empty: the bytes go unchanged
    const char* Digest;    // sha256sum of the commands, each with "\n"
  } cases[] = {
      // printf 'SbP\nSr1;Ser;4.99\nSr2;Mleko;2.49\nSe\n' | sha256sum
      {"products", "1;Ser;4.99\n2;Mleko;2.49\n", 0, "",
       "8a2a06d2d1190dcc9aee36a914661027bdbb325ffd3be38599a98cbf71daceaa"},
      // printf 'SbU\nSr1;\xaf\xf3\xb3w\nSe\n' | sha256sum: "Żółw" in CP1250
      {"users, converted", "1;\xC5\xBB\xC3\xB3\xC5\x82w\n", 1, "CP1250",
       "8dc5613d9a0d0e64c53948cd433877333945d23255c21c29f51f1d7faa123fd1"},
  };
  for (const auto& c : cases) {
    const TDatabaseTable table = TDatabaseTable::Parse(c.File);
    const TFileReport report = CheckFile(table, TEncodingSettings{c.CodePage});
    ASSERT_TRUE(report.CanSend()) << c.What;
    const std::function<std::string(std::string)> encode =
        report.Converts() ? std::function<std::string(std::string)>(TRowEncoder(report)) : nullptr;
    EXPECT_EQ(ContentDigest(table, c.KindPosition, encode), c.Digest) << c.What;
  }
}
