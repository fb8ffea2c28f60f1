#include <gtest/gtest.h>

#include "teco_servo.h"

namespace {

TEST(DriverErrorState, ClearErrorKeepsTheTextAndSetReplacesIt)
{
    DriverTecoServo driver;
    EXPECT_FALSE(driver.hasError());
    EXPECT_TRUE(driver.getLastError().isNull());

    driver.setCommError("PLC no response");
    driver.setCommError("CRC error");
    EXPECT_TRUE(driver.hasError());
    EXPECT_EQ(driver.getLastError(), "CRC error");

    driver.clearError();
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(driver.getLastError(), "CRC error");
}

TEST(DriverErrorState, EachObjectHasItsOwn)
{
    DriverTecoServo a;
    DriverTecoServo b;
    a.setCommError("packet loss");
    EXPECT_FALSE(b.hasError());
    EXPECT_TRUE(b.getLastError().isEmpty());
}

} // namespace
