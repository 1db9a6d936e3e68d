#pragma once
// The two windows on the simulated platform, with a settings file of their own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "components/SettingsPath.h"
#include "main_window/ChronelUnit.h"
#include "platform/sim/SimPlatform.h"
#include "prefs/frmPrefsUnit.h"

class WindowsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/chronel-win.XXXXXX";
        dir = mkdtemp(tmpl);
        ini = dir + "/ChronelGui.ini";
        SetSettingsFilePathForTests(ini);
        form = std::make_unique<TForm1>();
        prefs = std::make_unique<TfrmPrefs>(form.get(), form.get());
        frmPrefs = prefs.get();
    }

    void TearDown() override
    {
        frmPrefs = nullptr;
        prefs.reset();
        form.reset();
        SetSettingsFilePathForTests("");
        std::filesystem::remove_all(dir);
    }

    void WriteIni(const std::string& text)
    {
        std::ofstream(ini, std::ios::binary) << text;
    }

    std::string ReadIni() const
    {
        std::ifstream in(ini, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    SimPlatform sim;
    std::string dir, ini;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TfrmPrefs> prefs;
};
