// Reading the selected work item from documents as the desktop browser hands
// them over: the engine's serialisation, which writes "&nbsp;", "&amp;",
// "&lt;" and "&gt;" in text, "&quot;" in attributes and bare attributes as
// selected="".
#include "ClockFixture.h"

namespace {

class PageReading : public ClockFixture {
protected:
    void Read(const std::string& options)
    {
        view->document->html = "<!DOCTYPE html>\n<html><head><title>Work log - Timer</title></head><body>"
                               "<form name=\"frmStartStop\" action=\"time_log.php\"><select name=\"item\">" +
                               options + "</select></form></body></html>";
        form->ReadTimerPage();
    }
};

TEST_F(PageReading, SerialisedReferencesBecomeTheirCharacters)
{
    ShowTimerPage();
    Read("<option value=\"1\">Admin</option><option value=\"2\" selected=\"\">Fish&nbsp;&amp;&nbsp;Chips</option>");
    EXPECT_EQ(form->WorkItemName, "Fish\xC2\xA0&&\xC2\xA0" "Chips");
    EXPECT_EQ(form->StartClock1->Caption(), "Start: Fish\xC2\xA0&&\xC2\xA0" "Chips");
    EXPECT_EQ(form->tryIcon->Hint(), "Fish\xC2\xA0&&&\xC2\xA0" "Chips");

    Read("<option value=\"&quot;x&quot;\" selected=\"\">a &lt;b&gt; \"c\" caf\xC3\xA9</option>");
    EXPECT_EQ(form->WorkItemName, "a <b> \"c\" caf\xC3\xA9");
}

TEST_F(PageReading, NamedReferencesComeFromTheLibrarysTable)
{
    ShowTimerPage();
    Read("<option selected=\"\">&eacute;t&eacute; &ndash; &hellip; &euro;5 &copy; &apos;q&apos;</option>");
    EXPECT_EQ(form->WorkItemName,
              "\xC3\xA9t\xC3\xA9 \xE2\x80\x93 \xE2\x80\xA6 \xE2\x82\xAC" "5 \xC2\xA9 'q'");
    Read("<option selected=\"\">&#233;&#x1F600;&#X41;</option>");
    EXPECT_EQ(form->WorkItemName, "\xC3\xA9\xF0\x9F\x98\x80" "A");
}

TEST_F(PageReading, WhatIsNotAReferenceStaysAsWritten)
{
    ShowTimerPage();
    // Unknown names, names are case sensitive, no ";", no digits, values that
    // are no characters, a bare "&" at the end.
    Read("<option selected=\"\">&bogus; &NBSP; &amp x &#; &#xZ; &#0; &#xD800; &#x110000; &#99999999999; R&D &</option>");
    EXPECT_EQ(form->WorkItemName,
              "&&bogus; &&NBSP; &&amp x &&#; &&#xZ; &&#0; &&#xD800; &&#x110000; &&#99999999999; R&&D &&");
    // A name longer than any in the table is not looked up.
    Read("<option selected=\"\">&" + std::string(200, 'a') + ";</option>");
    EXPECT_EQ(form->WorkItemName, "&&" + std::string(200, 'a') + ";");
}

}  // namespace
