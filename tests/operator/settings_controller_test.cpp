// The settings rules of the main window without a toolkit: what a change copies into
// the settings and the user table, which controls are enabled, and how a number field
// that holds no valid number keeps the previous value.
#include "operator/settings_controller.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvexa {
namespace {

struct SinkCall {
  UserLimits limits;
  bool refreshRows;
};

class SettingsControllerTest : public ::testing::Test {
 protected:
  SettingsControllerTest()
      : controller(settings, [this](const UserLimits& limits, bool refresh) {
          calls.push_back({limits, refresh});
        }) {}

  ServerSettings settings;
  std::vector<SinkCall> calls;
  SettingsController controller;
};

TEST_F(SettingsControllerTest, EnablingFollowsLimitWriteCommandsAndLimitUsage) {
  SettingsForm form = controller.Form();
  struct Case {
    bool limitWrite, limitUsage, usageBoxEnabled, maxUsageEnabled;
  } cases[] = {
      {false, false, false, false},
      {false, true, false, false},  // the usage limit alone does not enable the field
      {true, false, true, false},
      {true, true, true, true},
  };
  for (const Case& c : cases) {
    form.limitWriteCommands = c.limitWrite;
    form.limitUsageTime = c.limitUsage;
    SettingsApplyResult result = controller.Apply(form, SettingsControl::LimitWriteCommands);
    EXPECT_EQ(result.limitUsageEnabled, c.usageBoxEnabled) << c.limitWrite << c.limitUsage;
    EXPECT_EQ(result.maxUsageEnabled, c.maxUsageEnabled) << c.limitWrite << c.limitUsage;
  }
}

TEST_F(SettingsControllerTest, UncheckingLimitWriteCommandsKeepsTheUsageValues) {
  settings.LimitMultipleControl = true;
  settings.LimitUsage = true;
  settings.MaxUsageTime = 300;
  SettingsForm form = controller.Form();
  form.limitWriteCommands = false;
  SettingsApplyResult result = controller.Apply(form, SettingsControl::LimitWriteCommands);
  EXPECT_FALSE(result.limitUsageEnabled);
  EXPECT_FALSE(result.maxUsageEnabled);
  EXPECT_TRUE(settings.LimitUsage);
  EXPECT_EQ(settings.MaxUsageTime, 300);
  EXPECT_FALSE(settings.LimitMultipleControl);
}

TEST_F(SettingsControllerTest, EveryControlIsReadIntoItsSetting) {
  SettingsForm form;
  form.allowConnections = false;
  form.limitWriteCommands = true;
  form.disableDeviceListing = true;
  form.limitUsageTime = true;
  form.useAuthentication = true;
  form.expiration = "-5";
  form.maxUsageTime = "90";
  form.maxClientCount = "7";
  controller.Apply(form, SettingsControl::MaxClientCount);
  EXPECT_FALSE(settings.Enable);
  EXPECT_TRUE(settings.LimitMultipleControl);
  EXPECT_TRUE(settings.DisableDeviceListing);
  EXPECT_TRUE(settings.LimitUsage);
  EXPECT_TRUE(settings.Authenticate);
  EXPECT_EQ(settings.ConnectionExpirationDelay, -5);  // the expiration field is signed
  EXPECT_EQ(settings.MaxUsageTime, 90);
  EXPECT_EQ(settings.MaxClientCount, 7);
  // Form shows them back.
  SettingsForm back = controller.Form();
  EXPECT_EQ(back.expiration, "-5");
  EXPECT_EQ(back.maxUsageTime, "90");
  EXPECT_EQ(back.maxClientCount, "7");
}

TEST_F(SettingsControllerTest, UserTableGetsTheFourLimitsAndRowsOnlyAfterLimitWriteCommands) {
  SettingsForm form = controller.Form();
  form.limitUsageTime = true;
  form.limitWriteCommands = true;
  form.expiration = "45";
  form.maxUsageTime = "600";
  controller.Apply(form, SettingsControl::LimitUsageTime);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].limits.limitUsage);
  EXPECT_TRUE(calls[0].limits.limitMultipleControl);
  EXPECT_EQ(calls[0].limits.expirationDelay, 45);
  EXPECT_EQ(calls[0].limits.maxUsageTime, 600);
  EXPECT_FALSE(calls[0].refreshRows);

  for (SettingsControl other : {SettingsControl::Initial, SettingsControl::AllowConnections,
                                SettingsControl::DisableDeviceListing,
                                SettingsControl::UseAuthentication, SettingsControl::Expiration,
                                SettingsControl::MaxUsageTime, SettingsControl::MaxClientCount})
    controller.Apply(form, other);
  for (const SinkCall& call : calls) EXPECT_FALSE(call.refreshRows);

  controller.Apply(form, SettingsControl::LimitWriteCommands);
  EXPECT_TRUE(calls.back().refreshRows);
}

TEST_F(SettingsControllerTest, AnInvalidNumberKeepsThePreviousValueAndIsReported) {
  settings.ConnectionExpirationDelay = 60;
  settings.MaxUsageTime = 1200;
  settings.MaxClientCount = 50;
  SettingsForm form = controller.Form();
  const char* bad[] = {"", "  ", "12a", "abc", "-", "+", "99999999999", "2147483648"};
  for (const char* text : bad) {
    form.expiration = text;
    form.maxUsageTime = text;
    form.maxClientCount = text;
    SettingsApplyResult result = controller.Apply(form, SettingsControl::Expiration);
    EXPECT_FALSE(result.expirationValid) << text;
    EXPECT_FALSE(result.maxUsageValid) << text;
    EXPECT_FALSE(result.maxClientValid) << text;
    EXPECT_EQ(settings.ConnectionExpirationDelay, 60) << text;
    EXPECT_EQ(settings.MaxUsageTime, 1200) << text;
    EXPECT_EQ(settings.MaxClientCount, 50) << text;
    // The user table keeps the previous numbers too.
    EXPECT_EQ(calls.back().limits.expirationDelay, 60);
    EXPECT_EQ(calls.back().limits.maxUsageTime, 1200);
  }
  // The check boxes still apply while a field is invalid.
  form.allowConnections = false;
  controller.Apply(form, SettingsControl::AllowConnections);
  EXPECT_FALSE(settings.Enable);
}

TEST(SettingsNumbersTest, SignedAndUnsignedFieldsParseTheirOwnForms) {
  EXPECT_EQ(SettingsController::ParseSigned(" 42 "), 42);
  EXPECT_EQ(SettingsController::ParseSigned("-2147483648"), INT32_MIN);
  EXPECT_EQ(SettingsController::ParseSigned("+7"), 7);
  EXPECT_EQ(SettingsController::ParseSigned("2147483647"), INT32_MAX);
  EXPECT_FALSE(SettingsController::ParseSigned("2147483648"));
  EXPECT_FALSE(SettingsController::ParseSigned("-2147483649"));
  EXPECT_FALSE(SettingsController::ParseSigned("1 2"));
  EXPECT_EQ(SettingsController::ParseUnsigned("0"), 0);
  EXPECT_EQ(SettingsController::ParseUnsigned("2147483647"), INT32_MAX);
  // Beyond the setting's range is refused rather than turned negative.
  EXPECT_FALSE(SettingsController::ParseUnsigned("4294967295"));
  EXPECT_FALSE(SettingsController::ParseUnsigned("-1"));
  EXPECT_FALSE(SettingsController::ParseUnsigned("+1"));
}

TEST_F(SettingsControllerTest, NegativeStoredCountsAreShownAsZeroInUnsignedFields) {
  settings.MaxClientCount = -3;
  settings.MaxUsageTime = -1;
  SettingsForm form = controller.Form();
  EXPECT_EQ(form.maxClientCount, "0");
  EXPECT_EQ(form.maxUsageTime, "0");
}

}  // namespace
}  // namespace orvexa
