// Entry of the headless test executables: a console application with an active console event loop, so
// that socket and timer events of the code under test are dispatched by the test pump.

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>

#include "support/TestEnv.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (bcxtest::IsListingOnly(argc, argv))
        return RUN_ALL_TESTS();

    bcxtest::EnterTempDir();
    wxInitializer init(argc, argv);
    if (!init.IsOk()) {
        fprintf(stderr, "cannot initialise the toolkit\n");
        return 2;
    }
    bcxtest::InstallAssertHandler();
    wxSocketBase::Initialize();
    wxLog::SetActiveTarget(new wxLogStderr);

    int result;
    {
        wxEventLoop loop;
        wxEventLoopActivator activate(&loop);
        result = RUN_ALL_TESTS();
    }
    wxSocketBase::Shutdown();
    return result;
}
