// usbwire.dll as its callers get it (UsbwireTable.h), on a simulated node of
// the driver stand-in.
#pragma once

#include "ScriptedModel.h"
#include "UsbwireTable.h"

#include <gtest/gtest.h>

#include <memory>

// Each test gets a fresh node with a scripted device, opened through the table.
class WireTest : public testing::Test {
protected:
    static constexpr const char* kNode = "/dev/qx_efex_wire";

    void SetUp() override;
    void TearDown() override;

    tag_EFEX_IF& fex = Fex();
    std::shared_ptr<ScriptedModel> model = std::make_shared<ScriptedModel>();
    void* handle = nullptr;
};
