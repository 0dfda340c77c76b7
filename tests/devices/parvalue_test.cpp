// Parameter-value views over the registers of a small image: values, limits,
// texts and value lists of every view class.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "TestFiles.h"
#include "Tlaparvaluecls.h"
#include "Tlaregdatabuffercmp.h"

namespace {

const char* kModel = R"(
[DataModel]
RegisterCount=7
[0]
Name=Gain
Type=short
Signed=1
Descr=Speed gain
MaxValue=0.999969482421875
MinValue=-1
DfltValue=0.5
FormatNorm=0.000030517578125
FormatString=0.0000
[1]
Name=Scale
Type=short
MaxValue=7
MinValue=0
DfltValue=3
[2]
Name=Flags
Type=short
Boolean=1
DfltValue=1029
Flags.0.0="Name=Ready",True=Yes,False=No
Flags.0.10_2="Name=Filter",Field0=Fast,Field1=Medium,Field2=Slow
[3]
Name=Mode
Type=short
Descr=Operating mode
DfltValue=1
MaxValue=3
MinValue=0
Mode.0_Coded=Code0=Off,Code1=Manual,Code2=Auto,"Code3=Auto plus"
[4]
Name=RawGain
Type=short
Signed=1
[5]
Name=RawScale
Type=short
[6]
Name=Pair
Type=short
Length=2
Descr=Two values
Pair.1=Second
)";

class Views : public ::testing::Test {
 protected:
  void SetUp() override {
    model_ = regtest::LoadModel(kModel);
    ASSERT_EQ(model_->RegisterCount(), 7);
    ASSERT_TRUE(image_.CreateRegDataBuffer(model_.get()));
  }
  TlaRegister* R(const char* name) { return image_.GetRegister(std::string(name)); }

  std::unique_ptr<TlaRegDefsList> model_;
  TlaRegDataBuffer image_;
};

}  // namespace

TEST_F(Views, Frac16StoresMantissaAndExponent) {
  TlaParFrac16 view(nullptr, R("RawGain"), R("RawScale"), 0);
  struct Case {
    double value;
    int mantissa, exponent;
  };
  const Case cases[] = {{3.0, 24576, 2}, {0.75, 24576, 0}, {-1.0, -16384, 1},
                        {0.0, 0, 0},     {0.99999, 32767, 0}, {-0.99999, -32767, 0}};
  for (const Case& c : cases) {
    view.SetValue(c.value);
    EXPECT_EQ(R("RawGain")->GetValueInteger(0), c.mantissa) << c.value;
    EXPECT_EQ(R("RawScale")->GetValueInteger(0), c.exponent) << c.value;
  }
  view.SetValue(3.0);
  EXPECT_DOUBLE_EQ(view.GetValue(), 3.0);
  R("RawGain")->SetValueInteger(0, 16384);
  R("RawScale")->SetValueInteger(0, 3);
  EXPECT_DOUBLE_EQ(view.GetValue(), 4.0);

  // Values that have no mantissa are refused (no endless halving, no bad cast).
  for (double bad : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
    view.SetValue(bad);
    EXPECT_EQ(R("RawGain")->GetValueInteger(0), 16384);
    EXPECT_EQ(R("RawScale")->GetValueInteger(0), 3);
  }

  // Without a scale register the factor is left out.
  TlaParFrac16 plain(nullptr, R("RawGain"), nullptr, 0);
  EXPECT_DOUBLE_EQ(plain.GetValue(), 0.5);
  plain.SetValue(3.0);  // halved to 0.75, the exponent has nowhere to go
  EXPECT_EQ(R("RawGain")->GetValueInteger(0), 24576);
}

TEST_F(Views, Frac16LimitsFollowBothRegisters) {
  TlaParFrac16 view(nullptr, R("Gain"), R("Scale"), 0);
  EXPECT_DOUBLE_EQ(view.GetMax(), 0.999969482421875 * 128);
  EXPECT_DOUBLE_EQ(view.GetMin(), -1.0);
  EXPECT_DOUBLE_EQ(view.GetDefault(), 4.0);
  EXPECT_EQ(view.GetMaxText(), "127.9961");  // the view's maximum in the gain format

  view.SetValue(1000.0);  // clamped to the maximum, then split
  EXPECT_EQ(R("Gain")->GetValueInteger(0), 32767);
  EXPECT_EQ(R("Scale")->GetValueInteger(0), 7);
  view.SetValue(-5.0);
  EXPECT_EQ(R("Gain")->GetValueInteger(0), -16384);
  EXPECT_EQ(R("Scale")->GetValueInteger(0), 1);
  EXPECT_DOUBLE_EQ(view.GetValue(), -1.0);

  view.SetDefault();
  EXPECT_DOUBLE_EQ(view.GetValue(), 4.0);
  kd::StringList dump;
  view.Dump(&dump);
  EXPECT_EQ(dump.Lines(), (std::vector<std::string>{"Speed gain:\t0.5000"}));
}

TEST_F(Views, BaseViewTextsAndLimitRows) {
  TlaParValue mode(nullptr, R("Mode"), 0);
  EXPECT_EQ(mode.GetName(), "Operating mode");
  EXPECT_EQ(mode.GetMaxText(), "Auto plus");
  EXPECT_EQ(mode.GetMinText(), "Off");
  EXPECT_EQ(mode.GetDefaultText(), "Manual");

  TlaParValueList list{{"old", 7}};
  mode.FillValueList(&list, true);
  EXPECT_EQ(list, (TlaParValueList{{"Manual (dflt)", parCodeDefault},
                                   {"Auto plus (max)", parCodeMax},
                                   {"Off (min)", parCodeMin}}));
  mode.FillValueList(&list, false);
  EXPECT_TRUE(list.empty());

  mode.SetValue(9.0);  // the register clamps
  EXPECT_DOUBLE_EQ(mode.GetValue(), 3.0);
  mode.SetDefault();
  EXPECT_DOUBLE_EQ(mode.GetValue(), 1.0);

  TlaParValue second(nullptr, R("Pair"), 1);
  TlaParValue first(nullptr, R("Pair"), 0);
  EXPECT_EQ(second.GetName(), "Second");
  EXPECT_EQ(first.GetName(), "Two values");  // no element name: the description
  EXPECT_EQ(first.GetMaxText(), "");
  first.FillValueList(&list, true);
  EXPECT_TRUE(list.empty());
}

TEST_F(Views, EncodedListsEveryCodeUpToTheMaximum) {
  TlaParEncoded mode(nullptr, R("Mode"), 0);
  TlaParValueList list;
  mode.FillValueList(&list, true);
  EXPECT_EQ(list, (TlaParValueList{{"Manual (dflt)", parCodeDefault},
                                   {"---------", parCodeSeparator},
                                   {"Off", 0},
                                   {"Manual", 1},
                                   {"Auto", 2},
                                   {"Auto plus", 3}}));
  mode.FillValueList(&list, false);
  EXPECT_EQ(list.size(), 4u);
  mode.SetValue(2.0);
  EXPECT_EQ(mode.GetValueText(), "Auto");
  EXPECT_EQ(mode.GetMaxText(), "Auto plus");

  TlaParEncoded unbounded(nullptr, R("RawScale"), 0);
  unbounded.FillValueList(&list, true);
  EXPECT_TRUE(list.empty());  // no maximum: nothing to enumerate
}

TEST_F(Views, BoolField) {
  TlaParBoolField ready(nullptr, R("Flags"), 0, 0);
  EXPECT_TRUE(ready.HasMax());
  EXPECT_TRUE(ready.HasMin());
  EXPECT_EQ(ready.GetName(), "Ready");
  EXPECT_EQ(ready.GetMaxText(), "Yes");
  EXPECT_EQ(ready.GetMinText(), "No");
  EXPECT_DOUBLE_EQ(ready.GetDefault(), 1.0);  // bit 0 of 1029
  EXPECT_EQ(ready.GetDefaultText(), "Yes");
  TlaParValueList list;
  ready.FillValueList(&list, true);
  EXPECT_EQ(list, (TlaParValueList{{"Yes (dflt)", parCodeDefault}, {"---------", parCodeSeparator},
                                   {"No", 0}, {"Yes", 1}}));

  R("Flags")->SetValueInteger(0, 0x0C00);
  ready.SetValue(5.0);
  EXPECT_EQ(R("Flags")->GetValueInteger(0), 0x0C01);
  EXPECT_EQ(ready.GetValueText(), "Yes");
  ready.SetValue(0.0);
  EXPECT_DOUBLE_EQ(ready.GetValue(), 0.0);
  EXPECT_EQ(R("Flags")->GetValueInteger(0), 0x0C00);
  ready.SetDefault();
  EXPECT_EQ(R("Flags")->GetValueInteger(0), 0x0C01);

  TlaParBoolField bit1(nullptr, R("Flags"), 1, 0);  // a bit without texts
  EXPECT_DOUBLE_EQ(bit1.GetDefault(), 0.0);
  bit1.FillValueList(&list, false);
  EXPECT_EQ(list, (TlaParValueList{{"0", 0}, {"1", 1}}));
}

TEST_F(Views, BitField) {
  TlaParBitField filter(nullptr, R("Flags"), 10, 2, 0);
  EXPECT_EQ(filter.GetName(), "Filter");
  EXPECT_DOUBLE_EQ(filter.GetMax(), 3.0);
  EXPECT_DOUBLE_EQ(filter.GetMin(), 0.0);
  EXPECT_EQ(filter.GetMaxText(), "3 (3h)");
  EXPECT_EQ(filter.GetMinText(), "Fast");
  EXPECT_DOUBLE_EQ(filter.GetDefault(), 1.0);  // (1029 >> 10) & 3
  TlaParValueList list;
  filter.FillValueList(&list, true);
  EXPECT_EQ(list, (TlaParValueList{{"Medium (dflt)", parCodeDefault}, {"---------", parCodeSeparator},
                                   {"Fast", 0}, {"Medium", 1}, {"Slow", 2}, {"3 (3h)", 3}}));

  R("Flags")->SetValueInteger(0, 0xF3FF);
  filter.SetValue(2.9);  // truncated
  EXPECT_EQ(filter.GetField(), 2);
  EXPECT_EQ(R("Flags")->GetValueInteger(0), 0xFBFF);  // the other bits kept
  EXPECT_EQ(filter.GetValueText(), "Slow");
  filter.SetValue(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(filter.GetField(), 2);
  filter.SetDefault();
  EXPECT_EQ(filter.GetField(), 1);
  filter.SetField(3);
  EXPECT_DOUBLE_EQ(filter.GetValue(), 3.0);
}

TEST(ViewsWithoutRegister, AnswerNothing) {
  std::vector<std::unique_ptr<TlaParValue>> views;
  views.push_back(std::make_unique<TlaParValue>(nullptr, nullptr, 0));
  views.push_back(std::make_unique<TlaParFrac16>(nullptr, nullptr, nullptr, 0));
  views.push_back(std::make_unique<TlaParEncoded>(nullptr, nullptr, 0));
  views.push_back(std::make_unique<TlaParBoolField>(nullptr, nullptr, 3, 0));
  views.push_back(std::make_unique<TlaParBitField>(nullptr, nullptr, 10, 2, 0));
  for (auto& v : views) {
    EXPECT_FALSE(v->Read());
    EXPECT_FALSE(v->Write());
    EXPECT_FALSE(v->HasDefault());
    EXPECT_EQ(v->GetValue(), 0.0);
    EXPECT_EQ(v->GetDefault(), 0.0);
    for (const std::string& text : {v->GetName(), v->GetValueText(), v->GetMaxText(), v->GetMinText(),
                                    v->GetDefaultText()})
      EXPECT_EQ(text, "");
    v->SetValue(1.0);
    v->SetDefault();
    TlaParValueList list{{"kept", 1}};
    v->FillValueList(&list, true);
    EXPECT_EQ(list.size(), 1u);
  }
  EXPECT_EQ(static_cast<TlaParBitField*>(views[4].get())->GetField(), -1);
}
