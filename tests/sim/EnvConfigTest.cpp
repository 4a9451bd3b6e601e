// Configuration by environment, and the simulator preloaded into a program
// that knows nothing of it.
#include "SimSupport.h"

#include <cstdio>
#include <cstdlib>

namespace {

class Env : public testing::Test {
protected:
    void TearDown() override
    {
        for (const char* name : set_)
            unsetenv(name);
    }
    void Set(const char* name, const char* value)
    {
        setenv(name, value, 1);
        set_.push_back(name);
    }
    std::vector<const char*> set_;
};

TEST_F(Env, VariablesBecomeBusAndBoardOptions)
{
    Set("VEMORA_SIM_BOARDS", "3");
    Set("VEMORA_SIM_FES_DELAY_MS", "35000");
    Set("VEMORA_SIM_LINK", "usb2");
    Set("VEMORA_SIM_FLASH_SIZE", "4G");
    Set("VEMORA_SIM_SEED", "99");
    Set("VEMORA_SIM_NOISE", "1");
    Set("VEMORA_SIM_FAULTS", "unplug@fes:10,fail-request:3:ETIMEDOUT,bad-status-magic");
    simdev::EnvConfig config;
    std::string error;
    ASSERT_TRUE(simdev::ConfigFromEnvironment(config, error)) << error;
    EXPECT_EQ(config.boards, 3u);
    EXPECT_EQ(config.board.fes_delay, 35000ms);
    EXPECT_EQ(config.board.link.bytes_per_second, 40'000'000u);
    EXPECT_EQ(config.board.flash_size, 4ull << 30);
    EXPECT_EQ(config.bus.seed, 99u);
    EXPECT_TRUE(config.bus.noise);
    ASSERT_EQ(config.board.faults.size(), 3u);
    EXPECT_EQ(config.board.faults[0].kind, simdev::Fault::Unplug);
    EXPECT_EQ(config.board.faults[0].stage, simdev::Stage::Fes);
    EXPECT_EQ(config.board.faults[0].at, 10u);
    EXPECT_EQ(config.board.faults[1].error, ETIMEDOUT);
    EXPECT_FALSE(config.board.faults[1].stage.has_value());
    EXPECT_EQ(config.board.faults[2].at, 1u);
}

TEST_F(Env, OnlyTheFaultyBoardsMisbehave)
{
    Set("VEMORA_SIM_BOARDS", "3");
    Set("VEMORA_SIM_FAULTY_BOARDS", "1,3");
    Set("VEMORA_SIM_FAULTS", "unplug");
    Set("VEMORA_SIM_OPEN_ERROR", "EACCES");
    Set("VEMORA_SIM_FES_RETURN", "never");
    Set("VEMORA_SIM_FEL_IDLE_UNPLUG_MS", "700");
    simdev::EnvConfig config;
    std::string error;
    ASSERT_TRUE(simdev::ConfigFromEnvironment(config, error)) << error;
    EXPECT_EQ(config.fel_idle_unplug, 700ms);
    for (unsigned n = 1; n <= 3; ++n) {
        const simdev::BoardOptions board = simdev::BoardFor(config, n);
        const bool faulty = n != 2;
        EXPECT_EQ(board.faults.size(), faulty ? 1u : 0u) << n;
        EXPECT_EQ(board.open_error, faulty ? EACCES : 0) << n;
        EXPECT_EQ(board.returns_in_fes, !faulty) << n;
    }
}

TEST_F(Env, BadValuesAreNamedAndNothingIsGuessed)
{
    const std::pair<const char*, const char*> bad[] = {{"VEMORA_SIM_BOARDS", "two"},
        {"VEMORA_SIM_FES_RETURN", "sometimes"}, {"VEMORA_SIM_LINK", "fast"},
        {"VEMORA_SIM_FLASH_SIZE", "12T"}, {"VEMORA_SIM_PRIVATE_LOG2", "40"},
        {"VEMORA_SIM_FAULTS", "unplug@fex:3"}, {"VEMORA_SIM_FAULTS", "melt:1"},
        {"VEMORA_SIM_FAULTS", "bad-status:1:EIO"}, {"VEMORA_SIM_ROUTE", "carrier-pigeon"},
        {"VEMORA_SIM_FAULTY_BOARDS", "2"}, {"VEMORA_SIM_FAULTY_BOARDS", "1,"}};
    for (const auto& [name, value] : bad) {
        Set(name, value);
        simdev::EnvConfig config;
        std::string error;
        EXPECT_FALSE(simdev::ConfigFromEnvironment(config, error)) << name << "=" << value;
        EXPECT_FALSE(error.empty());
        unsetenv(name);
    }
}

// Runs sim_probe for `boards` boards with the simulator preloaded (after the
// sanitizer runtimes of a sanitized build, which must come first); its output.
std::string Probe(const std::string& variables, int boards, int& status)
{
    const std::string command = std::string("env LD_PRELOAD=") + SANITIZER_PRELOAD + SIMDRV_SO + ":"
        + SIMDEV_SO + " " + variables + " " + SIM_PROBE + " " + USBWIRE_DLL + " "
        + std::to_string(boards) + " 2>&1";
    FILE* probe = popen(command.c_str(), "r");
    if (!probe)
        return "popen failed";
    std::string output;
    char line[512];
    while (std::fgets(line, sizeof line, probe))
        output += line;
    status = pclose(probe);
    return output;
}

TEST(Preload, AProgramMeetsABoardWithoutLinkingTheSimulator)
{
    int status = -1;
    const std::string output = Probe(
        "VEMORA_SIM_BOARDS=1 VEMORA_SIM_PLUG_DELAY_MS=0 VEMORA_SIM_FES_DELAY_MS=100", 1, status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("arrived /dev/qx_efex0 stage 1"), std::string::npos) << output;
    EXPECT_NE(output.find("download 0 run 0"), std::string::npos) << output;
    EXPECT_NE(output.find("left /dev/qx_efex0"), std::string::npos) << output;
    EXPECT_NE(output.find("arrived /dev/qx_efex1 stage 2"), std::string::npos) << output;
    EXPECT_NE(output.find("simdev: board 1 plugged in FEL at /dev/qx_efex0"), std::string::npos)
        << output;
}

TEST(Preload, BoardsOneAfterAnotherEachTakenAwayWhenIdleInFes)
{
    int status = -1;
    const std::string output = Probe("VEMORA_SIM_BOARDS=2 VEMORA_SIM_PLUG_DELAY_MS=0 "
                                     "VEMORA_SIM_FES_DELAY_MS=50 VEMORA_SIM_FES_IDLE_UNPLUG_MS=100 "
                                     "VEMORA_SIM_PLUG_INTERVAL_MS=50 VEMORA_SIM_LINK=usb2",
        2, status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("arrived /dev/qx_efex1 stage 2"), std::string::npos) << output;
    EXPECT_NE(output.find("taken away /dev/qx_efex1"), std::string::npos) << output;
    EXPECT_NE(output.find("arrived /dev/qx_efex2 stage 1"), std::string::npos) << output;
    EXPECT_NE(output.find("arrived /dev/qx_efex3 stage 2"), std::string::npos) << output;
    EXPECT_NE(output.find("simdev: board 1 taken away after 100 ms idle in FES"), std::string::npos)
        << output;
}

} // namespace
