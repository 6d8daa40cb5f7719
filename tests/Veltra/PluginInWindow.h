#pragma once

#include "PluginHarness.h"
#include "TestBrowser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace veltra::test {

/// What a page call answered: whether it succeeded, and its value by kind.
struct CallResult
{
    bool ok = false;
    NPVariantType type = NPVariantType_Void;
    std::string text;
    bool flag = false;
    double number = 0.0;
};

/// The plug-in library loaded as a browser loads it, one element on a page, drawing into a real X
/// window of 320 x 240 (on a private Xvfb when no display is set). Skips when no display can be had.
class PluginInWindow : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    /// NPP_New with `params`, then the window, then the scripting object.
    void create(std::vector<std::pair<std::string, std::string>> params = {});
    /// Takes the window away (NPP_SetWindow with none).
    void detach();

    /// Calls `method` of the element with `args` (owned values, released here).
    CallResult call(const char* method, std::vector<NPVariant> args = {});
    static NPVariant text(const std::string& value) { return TestBrowser::stringVariant(value); }
    static NPVariant flag(bool value);
    static NPVariant number(double value);
    /// A page object as an argument, with a reference of its own for the call to give back.
    NPVariant object(PageObject* value);

    /// The pixel at (x, y) of the window as X has it, 0xRRGGBB.
    unsigned long pixel(int x, int y);
    /// Passes a left-button event at (x, y) through NPP_HandleEvent; its answer.
    int16_t button(int type, int x, int y);

    bool consoleHas(const std::string& prefix) const;
    std::size_t evaluatedCount(const std::string& script) const;

    Display* display = nullptr;
    unsigned long window = 0;
    TestBrowser browser;
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<ScriptedPage> page;
    NPPluginFuncs plugin{};
    NPWindow npWindow{};
    NPSetWindowCallbackStruct callbackInfo{};
    NPObject* api = nullptr;
    bool alive = false;
    std::size_t objectsBefore = 0;
};

} // namespace veltra::test
