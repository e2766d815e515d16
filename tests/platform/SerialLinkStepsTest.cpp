// The order of the link's platform steps and what a failing step leads to, watched through a
// recording device (test-only): a real port cannot be made to fail at a chosen step.
#include "core/reception/ComAPI.h"
#include "core/reception/SerialDevice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Script {
    std::vector<std::string> steps;
    std::string failingStep;
    bool openFails = false;
    std::vector<std::size_t> reads; // sizes delivered by successive reads, then nothing
    SerialLineSettings settings{};
};

Script script;

class RecordingDevice final : public CSerialDevice {
public:
    ~RecordingDevice() override { script.steps.push_back("release"); }
    bool ClearLineErrors() override { return Step("clear"); }
    bool SetQueueSizes(std::size_t input, std::size_t output) override {
        return Step("queues " + std::to_string(input) + " " + std::to_string(output));
    }
    bool Purge() override { return Step("purge"); }
    bool MakeReadsReturnAtOnce() override { return Step("timeouts"); }
    bool ApplyLineSettings(const SerialLineSettings& settings) override {
        script.settings = settings;
        return Step("settings");
    }
    bool StopEventNotification() override { return Step("events"); }
    bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& received) override {
        received = 0;
        if (!script.reads.empty()) {
            received = std::min(size, script.reads.front());
            script.reads.erase(script.reads.begin());
            std::fill(buffer, buffer + received, std::uint8_t{'A'});
        }
        return Step("read " + std::to_string(size));
    }
    bool DropDtr() override { return Step("dtr"); }

private:
    static bool Step(const std::string& name) {
        script.steps.push_back(name);
        return name.rfind(script.failingStep, 0) != 0 || script.failingStep.empty();
    }
};

std::unique_ptr<CSerialDevice> OpenRecording(const char* path, SerialOpenError& error) {
    script.steps.push_back(std::string("open ") + path);
    if (script.openFails) {
        error = SerialOpenError::PermissionDenied;
        return nullptr;
    }
    error = SerialOpenError::None;
    return std::make_unique<RecordingDevice>();
}

using Steps = std::vector<std::string>;

const Steps OPEN_STEPS = {"open /dev/ttyS0", "clear", "queues 4096 4096", "purge", "timeouts",
                          "settings",        "events"};

class SerialLinkSteps : public ::testing::Test {
protected:
    void SetUp() override { script = Script{}; }
    CComAPI link{OpenRecording};
};

TEST_F(SerialLinkSteps, OpenConfiguresInOrderThenDrainsUntilNothingArrives) {
    script.reads = {256, 10};
    ASSERT_EQ(link.OpenAndDrain("ttyS0"), 1);
    Steps expected = OPEN_STEPS;
    expected.insert(expected.end(),
                    {"clear", "read 256", "clear", "read 256", "clear", "read 256"});
    EXPECT_EQ(script.steps, expected);
    EXPECT_EQ(script.settings.baudRate, 2400u);
    EXPECT_EQ(script.settings.dataBits, 8);
    EXPECT_EQ(script.settings.parity, SerialLineSettings::Parity::Even);
    EXPECT_EQ(script.settings.stopBits, 2);
}

TEST_F(SerialLinkSteps, FailingConfigurationStepReleasesThePortWithoutPurgeOrDtr) {
    const std::vector<std::pair<std::string, std::size_t>> failures = {
        {"queues", 3}, {"purge", 4}, {"timeouts", 5}, {"settings", 6}, {"events", 7}};
    for (const auto& [step, stepsMade] : failures) {
        script = Script{};
        script.failingStep = step;
        EXPECT_EQ(link.OpenAndDrain("ttyS0"), 0) << step;
        EXPECT_FALSE(link.IsOpen()) << step;
        Steps expected(OPEN_STEPS.begin(), OPEN_STEPS.begin() + stepsMade);
        expected.push_back("release");
        EXPECT_EQ(script.steps, expected) << step;
    }
}

TEST_F(SerialLinkSteps, FailedReadDeliversNothingAndKeepsThePortOpen) {
    ASSERT_EQ(link.OpenPort("ttyS0"), 1);
    script.steps.clear();
    script.failingStep = "read";
    script.reads = {5};
    std::uint8_t out[CComAPI::DECODED_BUFFER_SIZE];
    std::size_t length = 99;
    EXPECT_EQ(link.ReadAndDecode(out, length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(script.steps, (Steps{"clear", "read 512"}));
}

TEST_F(SerialLinkSteps, CloseReopenAndDestructionReleaseThePortTheirOwnWay) {
    ASSERT_EQ(link.OpenPort("ttyS0"), 1);
    script.steps.clear();
    ASSERT_EQ(link.OpenPort("ttyS0"), 1);
    Steps expected = {"purge", "dtr", "events", "release"};
    expected.insert(expected.end(), OPEN_STEPS.begin(), OPEN_STEPS.end());
    EXPECT_EQ(script.steps, expected);

    script.steps.clear();
    link.ClosePort();
    EXPECT_EQ(script.steps, (Steps{"purge", "dtr", "events", "release"}));

    {
        CComAPI scoped{OpenRecording};
        ASSERT_EQ(scoped.OpenPort("ttyS0"), 1);
        script.steps.clear();
    }
    EXPECT_EQ(script.steps, (Steps{"release"}));
}

TEST_F(SerialLinkSteps, RefusedOpenAndClosedLinkMakeNoDeviceSteps) {
    script.openFails = true;
    EXPECT_EQ(link.OpenAndDrain("ttyS0"), 0);
    EXPECT_EQ(script.steps, (Steps{"open /dev/ttyS0"}));
    EXPECT_EQ(link.LastOpenError(), SerialOpenError::PermissionDenied) << "the opener's reason";
    script.steps.clear();
    EXPECT_EQ(link.OpenAndDrain(std::string(95, 'n').c_str()), 0);
    link.ClosePort();
    EXPECT_EQ(script.steps, Steps{});
}

} // namespace
