// Register texts: descriptions, element, bit, field and code names.
#include <gtest/gtest.h>

#include "Exception.h"
#include "Tlaregdefinitioncls.h"

namespace {

class StatusTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    d.Name = "Status";
    d.Type = regShort;
    d.Length = 2;
    d.Boolean = true;
    for (const char* line : {"Status=Drive status word", "Status.0=Main word",
                             "Status.0.3=\"Name=Motor on\",True=Running,False=Stopped",
                             "Status.0.4=Brake released", "Status.0.5=Name=Motor on",
                             "Status.0.8_4=Name=Mode,Field0=Off,Field1=Manual,Field2=Auto",
                             "Status.1_Coded=Code0=Idle,Code1=Run,\"Code2=Fault reset\""})
      d.ExtraLines.Add(line);
  }
  TlaRegDefinition d;
};

}  // namespace

TEST_F(StatusTexts, Descriptions) {
  EXPECT_EQ(d.GetDescr(), "Drive status word");
  d.ExtraLines.SetValue("Status", "");
  d.ExtraLines.Add("Descr=Speed loop");
  EXPECT_EQ(d.GetDescr(), "Speed loop");
  d.ExtraLines.SetValue("Descr", "");
  EXPECT_EQ(d.GetDescr(), "Status");
  EXPECT_EQ(d.GetElementName(0), "Main word");
  EXPECT_EQ(d.GetElementName(1), "");
}

TEST_F(StatusTexts, BitNamesAndStates) {
  EXPECT_EQ(d.GetBitName(0, 3), "Motor on");
  EXPECT_EQ(d.GetBitName(0, 4), "Brake released");  // no Name= item: the whole value
  EXPECT_EQ(d.GetBitName(0, 5), "Motor");           // unquoted: the blank ends the item
  EXPECT_EQ(d.GetBitName(0, 6), "");
  EXPECT_EQ(d.GetBitStateTexts(0, 3, true), "Running");
  EXPECT_EQ(d.GetBitStateTexts(0, 3, false), "Stopped");
  EXPECT_EQ(d.GetBitStateTexts(0, 4, true), "1");
  EXPECT_EQ(d.GetBitStateTexts(0, 4, false), "0");
  d.FormatString = "\"on\";;\"off\"";
  EXPECT_EQ(d.GetBitStateTexts(0, 4, true), "on");
  EXPECT_EQ(d.GetBitStateTexts(0, 4, false), "off");
}

TEST_F(StatusTexts, FieldsAndCodes) {
  EXPECT_EQ(d.GetBitFieldName(0, 8, 4), "Mode");
  EXPECT_EQ(d.GetBitFieldName(0, 0, 4), "");
  EXPECT_EQ(d.GetBitFieldTexts(0, 8, 4, 2), "Auto");
  EXPECT_EQ(d.GetBitFieldTexts(0, 8, 4, 12), "12 (Ch)");
  EXPECT_EQ(d.GetCodedText(1, 1.7), "Run");
  EXPECT_EQ(d.GetCodedText(1, 2), "Fault reset");
  EXPECT_EQ(d.GetCodedText(1, 5), "5");
  EXPECT_EQ(d.GetCodedText(1, -0.5), "Idle");  // truncated toward zero
  // Values past 32 bits (an unsigned long) name no small code.
  EXPECT_EQ(d.GetCodedText(1, 4294967296.0), "4294967296");
  EXPECT_EQ(d.GetCodedText(1, 4294967297.0), "4294967297");
  d.FormatString = "0.0";
  EXPECT_EQ(d.GetCodedText(1, 5), "5.0");
  EXPECT_EQ(d.GetCodedText(0, 1), "1.0");  // no coded line for element 0
}

TEST_F(StatusTexts, TextsOfStoredValues) {
  std::uint8_t b[4] = {0x02, 0x08, 0x00, 0x00};  // bit 3 set, field 8..11 = 2
  EXPECT_EQ(d.GetValueBitText(b, 0, 3), "Running");
  EXPECT_EQ(d.GetValueBitText(b, 0, 4), "0");
  EXPECT_EQ(d.GetBitFieldText(b, 0, 8, 4), "Auto");
  EXPECT_THROW(d.GetValueBitText(b, 0, 16), kd::Exception);
  EXPECT_THROW(d.GetBitFieldText(b, 0, 13, 4), kd::Exception);
  d.Boolean = false;
  EXPECT_EQ(d.GetValueBitText(b, 0, 3), "520");  // not a flag register: the display text
  EXPECT_EQ(d.GetBitFieldText(b, 0, 8, 4), "520");

  TlaRegDefinition s;
  s.Type = regString;
  s.Length = 2;
  std::uint8_t t[4] = {0, 'O', 0, 'K'};
  EXPECT_EQ(s.GetValueBitText(t, 1, 40), "OK");
  EXPECT_EQ(s.GetBitFieldText(t, 1, 40, 4), "OK");
}
