#include "SerialPort.h"

#include <gtest/gtest.h>

TEST(SerialTextsTest, BaudRateTextsMatchOnlyTheirExactUpperCasedForm) {
  for (const char* text : {"921600", "50", "7200", "", "19200 ", "19200.0", "134.5", "230400"})
    EXPECT_EQ(BaudRateFromText(text), br9600) << '"' << text << '"';
  EXPECT_EQ(BaudRateFromText("115200"), br115200);
  EXPECT_EQ(BaudRateFromText("custom"), brCustom);
  EXPECT_EQ(BaudRateFromText("cUsToM"), brCustom);
  EXPECT_EQ(BaudRateText(br56000), "56000");
  EXPECT_EQ(BaudRateText(brCustom), "Custom");
  for (int rate = brCustom; rate <= br256000; ++rate)
    EXPECT_EQ(BaudRateFromText(BaudRateText(static_cast<TBaudRate>(rate))), rate);
}

TEST(SerialTextsTest, OnlyTheConnectionDialogRatesTheEnumerationKnowsAreRecognised) {
  const char* recognised[] = {"110", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
  for (const char* text : recognised) EXPECT_EQ(BaudRateText(BaudRateFromText(text)), text);
  for (const char* text : {"75", "150", "1800", "460800"}) EXPECT_EQ(BaudRateFromText(text), br9600);
}

TEST(SerialTextsTest, EveryConversionHasItsFallback) {
  EXPECT_EQ(StopBitsFromText("1.5"), sbOne5StopBits);
  EXPECT_EQ(StopBitsFromText("3"), sbOneStopBit);
  EXPECT_EQ(DataBitsFromText("9"), dbEight);
  EXPECT_EQ(DataBitsFromText("5"), dbFive);
  EXPECT_EQ(ParityFromText("even"), prEven);
  EXPECT_EQ(ParityFromText("SPACE"), prSpace);
  EXPECT_EQ(ParityFromText(" Odd"), prNone);
  EXPECT_EQ(FlowControlFromText("XON"), fcCustom);
  EXPECT_EQ(FlowControlFromText("hardware"), fcHardware);
  EXPECT_EQ(FlowControlFromText("None"), fcNone);
  EXPECT_EQ(DtrControlFromText("handshake"), dtrHandshake);
  EXPECT_EQ(DtrControlFromText("Toggle"), dtrDisable);
  EXPECT_EQ(RtsControlFromText("TOGGLE"), rtsToggle);
  EXPECT_EQ(RtsControlFromText("On"), rtsDisable);
  EXPECT_TRUE(YesNoFromText("yes"));
  EXPECT_FALSE(YesNoFromText("No"));
  EXPECT_FALSE(YesNoFromText("true"));
  EXPECT_FALSE(YesNoFromText(""));
  EXPECT_EQ(YesNoText(true), "Yes");
  EXPECT_EQ(YesNoText(false), "No");
}

TEST(SerialTextsTest, TextsFollowTheOrdinalOrder) {
  EXPECT_EQ(StopBitsText(sbTwoStopBits), "2");
  EXPECT_EQ(DataBitsText(dbSix), "6");
  EXPECT_EQ(ParityText(prMark), "Mark");
  EXPECT_EQ(FlowControlText(fcSoftware), "Software");
  EXPECT_EQ(DtrControlText(dtrEnable), "Enable");
  EXPECT_EQ(RtsControlText(rtsHandshake), "Handshake");
  EXPECT_EQ(BaudRateValue(br14400), 14400);
  EXPECT_EQ(BaudRateValue(br256000), 256000);
}

TEST(SerialTextsTest, CharactersArePrintableOrHashAndCode) {
  EXPECT_EQ(CharSettingText(17), "#17");
  EXPECT_EQ(CharSettingText(32), "#32");
  EXPECT_EQ(CharSettingText(33), "!");
  EXPECT_EQ(CharSettingText(65), "A");
  EXPECT_EQ(CharSettingText(127), "\x7f");
  EXPECT_EQ(CharSettingText(128), "#128");
  EXPECT_EQ(CharSettingText(200), "#200");
  EXPECT_EQ(CharSettingText(0), "#0");
}

TEST(SerialTextsTest, CharacterTextsParseWithTheirEdges) {
  EXPECT_EQ(CharSettingFromText("#"), 35);
  EXPECT_EQ(CharSettingFromText("#300"), 44);
  EXPECT_EQ(CharSettingFromText(""), 0);
  EXPECT_EQ(CharSettingFromText("#17"), 17);
  EXPECT_EQ(CharSettingFromText("#$1F"), 31);
  EXPECT_EQ(CharSettingFromText("#-1"), 255);
  EXPECT_EQ(CharSettingFromText("AB"), 65);
  EXPECT_EQ(CharSettingFromText("#x"), 0);
  EXPECT_EQ(CharSettingFromText("#12 "), 0);
  EXPECT_EQ(CharSettingFromText("#$"), 0);
  EXPECT_EQ(CharSettingFromText("#99999999999"), 0);
  for (int c = 0; c < 256; ++c) EXPECT_EQ(CharSettingFromText(CharSettingText(static_cast<uint8_t>(c))), c);
}
