#include "support/gui/Screenshot.h"

#include <cstring>
#include <filesystem>

#include <wx/image.h>
#include <wx/window.h>

#include "support/Pump.h"
#include "support/TestEnv.h"
#include "support/gui/X11Windows.h"

namespace bcxtest {

std::string SaveScreenshot(wxWindow* window, const std::string& name)
{
    if (!window)
        return std::string();
    window->Refresh();
    window->Update();
    PumpFor(300);
    wxRect rect = window->GetScreenRect();
    int width = rect.width, height = rect.height;
    std::vector<unsigned char> pixels = GrabScreen(rect.x, rect.y, width, height);
    if (pixels.empty())
        return std::string();

    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    wxImage image(width, height, false);
    std::memcpy(image.GetData(), pixels.data(), pixels.size());

    std::filesystem::path dir = std::filesystem::path(BinaryDir()) / "artifacts";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::string path = (dir / (name + ".png")).string();
    if (!image.SaveFile(wxString::FromUTF8(path.c_str()), wxBITMAP_TYPE_PNG))
        return std::string();
    return path;
}

} // namespace bcxtest
