// Lua 5.1 states for tests, as tool scripts get them.
#pragma once

#include <gtest/gtest.h>
#include <lua.hpp>

#include <string>

// A fresh state with the standard libraries.
lua_State* NewLua();
// Runs a chunk; returns "" or the error text.
std::string RunLua(lua_State* L, const std::string& chunk);
// Global `name` as text (tostring), "" when it is nil.
std::string GlobalText(lua_State* L, const char* name);

// Each test gets a fresh state with the standard libraries, where the globals
// USBWIRE and SCRIPTBASE name the built libraries for package.loadlib. The
// state is closed in TearDown: a fixture that checks what closing it did
// calls LuaTest::TearDown() first.
class LuaTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Run(const std::string& chunk) { return RunLua(L, chunk); }

    lua_State* L = nullptr;
};
