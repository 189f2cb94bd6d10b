// A fresh engine for every test: all state as at program start, the lock created, unity
// gain and ratio as after dialog initialisation.
#pragma once

#include <gtest/gtest.h>

#include "audio/engine_state.h"

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        LockCreate(&EngineLock);
        gain = 1.0;
        pitchRatio = 1.0;
    }
    void TearDown() override { LockDestroy(&EngineLock); }
};
