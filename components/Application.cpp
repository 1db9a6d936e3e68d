#include "components/Application.h"

#include <QCoreApplication>
#include <cstdio>

#include "components/Exceptions.h"
#include "platform/Platform.h"

TApplication& Application()
{
    static TApplication app;
    return app;
}

void TApplication::SetTitle(const std::string& title)
{
    title_ = title;
    if (OnTitleChange) OnTitleChange(title_);
}

void TApplication::Minimize()
{
    CurrentPlatform().AppState->Minimize();
}

void TApplication::Restore()
{
    CurrentPlatform().AppState->Restore();
}

void TApplication::ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
}

void TApplication::ShowException(const std::string& message)
{
    std::string text = message;
    if (text.empty() || text.back() != '.') text += '.';
    // Also on the error stream, for whoever started the program from a shell.
    std::fprintf(stderr, "%s: %s\n", title_.c_str(), text.c_str());
    CurrentPlatform().MessageBox->Show(text, title_, MB_OK | MB_ICONERROR);
}

void TApplication::HandleException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        ShowException(e.Message());
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("");
    }
}

bool TApplication::Guard(const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}
