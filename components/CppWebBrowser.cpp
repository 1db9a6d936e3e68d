#include "components/CppWebBrowser.h"

#include "components/Application.h"
#include "components/Exceptions.h"
#include "platform/Platform.h"

TCppWebBrowser::TCppWebBrowser(QWidget* parent)
{
    IBrowsers* browsers = CurrentPlatform().Browsers;
    if (!browsers) throw Exception("No web browser is available on this platform");
    view_ = browsers->Create(parent);
    if (!view_) throw Exception("The web browser could not be created");
    view_->OnBeforeNavigate2 = [this](TBeforeNavigateArgs& a) {
        Fire(OnBeforeNavigate2, this, a.URL, a.Flags, a.TargetFrameName, a.PostData, a.Headers, a.Cancel);
    };
    view_->OnDocumentComplete = [this](const std::string& url) { Fire(OnDocumentComplete, this, url); };
    view_->OnNavigateError = [this](const TNavigateErrorArgs& e) {
        Fire(OnNavigateError, this, e.URL, e.StatusCode, e.Reason);
    };
}

TCppWebBrowser::~TCppWebBrowser()
{
    view_->OnBeforeNavigate2 = nullptr;
    view_->OnDocumentComplete = nullptr;
    view_->OnNavigateError = nullptr;
}

QWidget* TCppWebBrowser::Widget() const
{
    return view_->Widget();
}

void TCppWebBrowser::Navigate(const std::string& url, int flags, const std::string& targetFrameName,
                              const std::string& postData, const std::string& headers)
{
    view_->Navigate(url, flags, targetFrameName, postData, headers);
}

bool TCppWebBrowser::Busy() const
{
    return view_->Busy();
}

IHtmlDocument* TCppWebBrowser::Document() const
{
    return view_->Document();
}

void TCppWebBrowser::LoadHtml(const std::string& html)
{
    view_->LoadHtml(html);
}

bool TCppWebBrowser::TakeUserGesture() const
{
    return view_->TakeUserGesture();
}

void TCppWebBrowser::Discard()
{
    view_->Discard();
}

bool TCppWebBrowser::Discarded() const
{
    return view_->Discarded();
}
