// usbwire.dll as its callers get it: loaded with dlopen, used through the
// GetInterface table and the exports, on a simulated node of the stand-in.
#pragma once

#include "EfexIf.h"
#include "ScriptedModel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

// The loaded library (never unloaded) and its exports.
void* UsbwireLibrary();
void* UsbwireSymbol(const char* name);
tag_EFEX_IF& Fex();

inline void* const kNoDevice = reinterpret_cast<void*>(intptr_t(-1));

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
