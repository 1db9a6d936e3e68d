#include "components/CppWebBrowser.h"

#include <QWidget>

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
    view_->OnDocumentComplete = [this](const std::string& url) {
        if (focusPending_) focusPending_ = !GiveFocus();
        Fire(OnDocumentComplete, this, url);
    };
    view_->OnNavigateError = [this](const TNavigateErrorArgs& e) {
        if (OnNavigateFailed) Fire(OnNavigateFailed, this, e);
        else Fire(OnNavigateError, this, e.URL, e.StatusCode, e.Reason);
    };
    view_->OnLoadEnded = [this](const std::string& url) { Fire(OnLoadEnded, this, url); };
}

TCppWebBrowser::~TCppWebBrowser()
{
    view_->OnBeforeNavigate2 = nullptr;
    view_->OnDocumentComplete = nullptr;
    view_->OnNavigateError = nullptr;
    view_->OnLoadEnded = nullptr;
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

void TCppWebBrowser::FocusPage()
{
    focusPending_ = !GiveFocus();
}

bool TCppWebBrowser::GiveFocus() const
{
    // The engine's view comes with the engine's start and goes when the page
    // is let go: the first widget in the control that takes the focus, if any.
    QWidget* root = view_->Widget();
    if (!root) return false;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (w->focusPolicy() == Qt::NoFocus && !w->focusProxy()) continue;
        w->setFocus(Qt::OtherFocusReason);
        return true;
    }
    return false;
}
