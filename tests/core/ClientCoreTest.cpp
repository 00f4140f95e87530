#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/confbase.h>

#include "core/ClientCore.h"
#include "core/ClientEvent.h"
#include "core/Version.h"
#include "platform/Registry.h"
#include "support/ClientEventRecorder.h"
#include "support/Pump.h"

namespace {

bool FileExists(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0;
}

// A configuration that lets the system pick the datagram port, so that no test binds a fixed port.
void WriteTestConfig()
{
    std::ofstream out("bcxClient.ini", std::ios::binary);
    out << "[Net]\nDatagramPort=0\n";
}

ClientCore* CreateCore()
{
    bcx::SetFakeRegistryForTesting(false, std::nullopt);
    WriteTestConfig();
    return ClientCore::Get(false);
}

TEST(ClientCoreLifeCycle, DestroyBeforeFirstUseCreatesNothingAndTheNextGetCreates)
{
    EXPECT_EQ(ClientCore::Get(true), nullptr);
    EXPECT_FALSE(FileExists("bcxClient.ini"));
    EXPECT_EQ(wxConfigBase::Get(false), nullptr);

    ClientCore* core = CreateCore();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(ClientCore::Get(false), core);
    EXPECT_EQ(ClientCore::Get(), core);
    // The constructor loaded the settings and installed the configuration.
    EXPECT_NE(wxConfigBase::Get(false), nullptr);
    EXPECT_NE(core->DatagramLocalPort(), 0);

    EXPECT_EQ(ClientCore::Get(true), nullptr);
}

TEST(ClientCoreLifeCycle, NeverCreatedAgainAfterDestruction)
{
    ClientCore* core = CreateCore();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(ClientCore::Get(true), nullptr);

    // Destruction uninstalled and deleted the configuration, which wrote the file.
    EXPECT_EQ(wxConfigBase::Get(false), nullptr);
    EXPECT_TRUE(FileExists("bcxClient.ini"));

    std::remove("bcxClient.ini");
    EXPECT_EQ(ClientCore::Get(false), nullptr);
    EXPECT_EQ(ClientCore::Get(), nullptr);
    EXPECT_EQ(ClientCore::Get(true), nullptr);
    EXPECT_EQ(ClientCore::Get(false), nullptr);
    // Nothing was constructed: no configuration was loaded again.
    EXPECT_FALSE(FileExists("bcxClient.ini"));
    EXPECT_EQ(wxConfigBase::Get(false), nullptr);
}

TEST(ClientCoreLifeCycle, RefsAreClearAfterConstruction)
{
    ClientCore* core = CreateCore();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->GetSessionPort(), 0u);
    core->SetSessionPort(10385);
    EXPECT_EQ(core->GetSessionPort(), 10385u);
    core->ClearRefs();
    EXPECT_EQ(core->GetSessionPort(), 0u);
    EXPECT_EQ(core->GetStatusTarget(), nullptr);
    EXPECT_EQ(core->GetGameListTarget(), nullptr);
    EXPECT_EQ(core->GetSettingsTarget(), nullptr);
    ClientCore::Get(true);
}

TEST(ClientCoreEvents, CloneKeepsIdValueTextAndType)
{
    ClientEvent event(1011, -42, wxString::FromUTF8("游戏 one"));
    std::unique_ptr<wxEvent> copy(event.Clone());
    ClientEvent* clone = dynamic_cast<ClientEvent*>(copy.get());
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetId(), 1011);
    EXPECT_EQ(clone->GetValue(), -42);
    EXPECT_EQ(clone->GetText(), wxString::FromUTF8("游戏 one"));
    EXPECT_EQ(clone->GetEventType(), ClientEventType);
    // The copy is independent of the original.
    event.SetText(wxS("changed"));
    event.SetValue(7);
    EXPECT_EQ(clone->GetText(), wxString::FromUTF8("游戏 one"));
    EXPECT_EQ(clone->GetValue(), -42);

    ClientEvent empty;
    EXPECT_EQ(empty.GetId(), 0);
    EXPECT_EQ(empty.GetValue(), 0);
    EXPECT_TRUE(empty.GetText().empty());
}

TEST(ClientCoreEvents, PostedEventIsQueuedAndArrivesWithItsFields)
{
    bcxtest::ClientEventRecorder recorder;
    ClientCore::PostEvent(&recorder, 1010, 0x1234ABCD, wxString::FromUTF8("名字"));
    ClientCore::PostEvent(&recorder, 1012, 7);
    // Queued, not handled inside the call.
    EXPECT_TRUE(recorder.Events().empty());

    ASSERT_TRUE(bcxtest::PumpUntil([&] { return recorder.Events().size() == 2; }));
    const auto& events = recorder.Events();
    EXPECT_EQ(events[0].id, 1010);
    EXPECT_EQ(events[0].value, 0x1234ABCD);
    EXPECT_EQ(events[0].text, "名字");
    EXPECT_EQ(events[1].id, 1012);
    EXPECT_EQ(events[1].value, 7);
    EXPECT_EQ(events[1].text, "");

    // No target: nothing is queued anywhere.
    ClientCore::PostEvent(nullptr, 1000, 1, wxS("x"));
    EXPECT_FALSE(wxTheApp->HasPendingEvents());
}

TEST(ClientCoreEvents, SettingsNotificationGoesToTheSettingsTargetOnly)
{
    ClientCore* core = CreateCore();
    ASSERT_NE(core, nullptr);
    bcxtest::ClientEventRecorder settings, status, list;
    core->SetStatusTarget(&status);
    core->SetGameListTarget(&list);

    // No settings target: dropped.
    core->NotifySettingsChanged();
    EXPECT_FALSE(wxTheApp->HasPendingEvents());

    core->SetSettingsTarget(&settings);
    EXPECT_EQ(core->GetSettingsTarget(), &settings);
    core->NotifySettingsChanged();
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return settings.Events().size() == 1; }));
    EXPECT_EQ(settings.Events()[0].id, 1020);
    EXPECT_EQ(settings.Events()[0].value, 0);
    EXPECT_EQ(settings.Events()[0].text, "");
    EXPECT_TRUE(status.Events().empty());
    EXPECT_TRUE(list.Events().empty());

    // Unset again: nothing more arrives.
    core->SetSettingsTarget(nullptr);
    core->NotifySettingsChanged();
    EXPECT_FALSE(wxTheApp->HasPendingEvents());
    bcxtest::PumpFor(20);
    EXPECT_EQ(settings.Events().size(), 1u);

    core->SetStatusTarget(nullptr);
    core->SetGameListTarget(nullptr);
    ClientCore::Get(true);
}

// A handler with a static event table routing one ClientEvent id.
class SweepHandler : public wxEvtHandler {
public:
    int sweeps = 0;
    int32_t lastValue = -1;

private:
    void OnSweep(ClientEvent& event)
    {
        ++sweeps;
        lastValue = event.GetValue();
    }
    wxDECLARE_EVENT_TABLE();
};

wxBEGIN_EVENT_TABLE(SweepHandler, wxEvtHandler)
    EVT_CLIENT_EVENT(1001, SweepHandler::OnSweep)
wxEND_EVENT_TABLE()

TEST(ClientCoreEvents, StaticTableRoutesOnTypeAndId)
{
    SweepHandler handler;
    ClientCore::PostEvent(&handler, 1000, 5);
    ClientCore::PostEvent(&handler, 1001, 3);
    ClientCore::PostEvent(&handler, 1002, 9);
    // A marker behind the three: when it arrived, the three were dispatched.
    bcxtest::ClientEventRecorder marker;
    ClientCore::PostEvent(&marker, 1001);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return marker.Events().size() == 1; }));
    EXPECT_EQ(handler.sweeps, 1);
    EXPECT_EQ(handler.lastValue, 3);
}

TEST(ClientCoreVersion, ConstantsPrintAsDottedVersions)
{
    EXPECT_EQ(FormatPackedVersion(ClientVersion), "0.95.00");
    EXPECT_EQ(FormatPackedVersion(LogonProtVersion), "1.03.00");
    EXPECT_EQ(FormatPackedVersion(RelayVersion), "1.05.00");
    EXPECT_EQ(FormatPackedVersion(UploadProtVersion), "1.06.01");
    // The patch byte of a protocol word: 07 03 00 01 read little-endian.
    EXPECT_EQ(FormatPackedVersion(0x01000307u), "1.03.07");
    EXPECT_EQ(FormatPackedVersion(0x01000400u), "1.04.00");
    // Minor spans 16 bits.
    EXPECT_EQ(FormatPackedVersion(0x02FFFF01u), "2.65535.01");
}

} // namespace
