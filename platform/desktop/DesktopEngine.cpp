// The desktop's browser controls and sound devices, on the engines' module.
// A browser control is a place in its window at once; the module is loaded,
// and the engine's view made in that place, at the control's first page. A
// sound device loads it at its first open.
#include <dlfcn.h>

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <utility>
#include <memory>
#include <string>

#include "platform/MessageBox.h"
#include "platform/TraceMarks.h"
#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/engine/EngineModule.h"

namespace {

// Loaded once for the program's life; the engines cannot be unloaded.
class EngineModule {
public:
    static EngineModule& Instance()
    {
        static EngineModule module;
        return module;
    }
    // The entry of that name, or null with Error() saying why.
    void* Entry(const char* name)
    {
        if (!tried_) {
            tried_ = true;
            // By name: the program's run path says where its module lies, in
            // the build tree and where it is installed.
            handle_ = dlopen(kEngineModule, RTLD_NOW | RTLD_LOCAL);
            if (!handle_) {
                const char* why = dlerror();
                error_ = why ? why : "not found";
            } else {
                TraceMark("engine-loaded");
            }
        }
        if (!handle_) return nullptr;
        void* entry = dlsym(handle_, name);
        if (!entry) error_ = std::string(kEngineModule) + " has no entry " + name;
        return entry;
    }
    // Calls the entry of that name with the program's services; null with
    // Error() saying why when it fails.
    template <typename Made, typename EntryType>
    std::unique_ptr<Made> Make(const char* name)
    {
        auto entry = reinterpret_cast<EntryType>(Entry(name));
        if (!entry) return nullptr;
        EngineHost host;
        host.abi = kEngineAbi;
        host.currentPlatform = &CurrentPlatform;
        host.traceMark = &TraceMark;
        std::unique_ptr<Made> made(entry(&host));
        if (!made) error_ = std::string(kEngineModule) + " is from another build of the program";
        return made;
    }
    const std::string& Error() const { return error_; }

private:
    bool tried_ = false;
    void* handle_ = nullptr;
    std::string error_;
};

// Made at the first page, shared by every control.
class EngineBrowsers {
public:
    IBrowsers* Get()
    {
        if (!tried_) {
            tried_ = true;
            browsers_ = EngineModule::Instance().Make<IBrowsers, BrowserEngineEntry>(kBrowserEngineEntry);
        }
        return browsers_.get();
    }
    // True the first time it is asked: the user is told of a failure once.
    bool TellFailure() { return !std::exchange(told_, true); }

private:
    bool tried_ = false, told_ = false;
    std::unique_ptr<IBrowsers> browsers_;
};

class EngineBrowserView final : public IBrowserView {
public:
    EngineBrowserView(std::shared_ptr<EngineBrowsers> engine, QWidget* parent) : engine_(std::move(engine))
    {
        container_ = new QWidget(parent);
        auto* layout = new QVBoxLayout(container_);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    ~EngineBrowserView() override
    {
        view_.reset();
        delete container_.data();
    }

    QWidget* Widget() override { return container_; }
    void Navigate(const std::string& url, int flags, const std::string& targetFrameName,
                  const std::string& postData, const std::string& headers) override
    {
        if (IBrowserView* view = Engine()) view->Navigate(url, flags, targetFrameName, postData, headers);
        else PostFailure(url);
    }
    bool Busy() override { return view_ && view_->Busy(); }
    IHtmlDocument* Document() override { return view_ ? view_->Document() : nullptr; }
    void LoadHtml(const std::string& html) override
    {
        if (IBrowserView* view = Engine()) view->LoadHtml(html);
    }
    bool TakeUserGesture() override { return view_ && view_->TakeUserGesture(); }
    void Discard() override
    {
        if (view_) view_->Discard();
    }
    bool Discarded() override { return view_ && view_->Discarded(); }

private:
    IBrowserView* Engine()
    {
        if (view_) return view_.get();
        if (!container_) return nullptr;
        IBrowsers* browsers = engine_->Get();
        if (!browsers) return nullptr;
        view_ = browsers->Create(container_);
        view_->OnBeforeNavigate2 = [this](TBeforeNavigateArgs& args) {
            if (OnBeforeNavigate2) OnBeforeNavigate2(args);
        };
        view_->OnDocumentComplete = [this](const std::string& url) {
            if (OnDocumentComplete) OnDocumentComplete(url);
        };
        view_->OnNavigateError = [this](const TNavigateErrorArgs& error) {
            if (OnNavigateError) OnNavigateError(error);
        };
        view_->OnLoadEnded = [this](const std::string& url) {
            if (OnLoadEnded) OnLoadEnded(url);
        };
        container_->layout()->addWidget(view_->Widget());
        return view_.get();
    }

    // Without an engine a load fails as the engine's own failures are
    // reported: after the call. The user is told why once.
    void PostFailure(const std::string& url)
    {
        const std::string error = EngineModule::Instance().Error();
        const std::string reason = "the browser engine could not be loaded: " + error;
        std::fprintf(stderr, "chronel: %s\n", reason.c_str());
        const bool tell = engine_->TellFailure();
        QTimer::singleShot(0, container_, [this, url, reason, error, tell] {
            if (OnNavigateError) OnNavigateError(TNavigateErrorArgs{url, 0, reason});
            if (IMessageBox* box = tell ? CurrentPlatform().MessageBox : nullptr)
                box->Show("The browser engine could not be loaded (" + error +
                              "). Reinstalling the program may help.",
                          QGuiApplication::applicationDisplayName().toStdString(), MB_OK | MB_ICONERROR);
        });
    }

    std::shared_ptr<EngineBrowsers> engine_;
    QPointer<QWidget> container_;
    std::unique_ptr<IBrowserView> view_;
};

class DesktopBrowsers : public IBrowsers {
public:
    std::unique_ptr<IBrowserView> Create(QWidget* parent) override
    {
        return std::make_unique<EngineBrowserView>(browsers_, parent);
    }

private:
    std::shared_ptr<EngineBrowsers> browsers_ = std::make_shared<EngineBrowsers>();
};

// Without the module every play fails, as a play on a broken device does:
// after the call, as a notice, saying why.
class UnavailableSoundPlayer final : public ISoundPlayer {
public:
    explicit UnavailableSoundPlayer(std::string why) : why_(std::move(why)) {}
    bool Open(const std::string&) override
    {
        mode_ = TMPModes::mpStopped;
        return true;
    }
    void Play() override
    {
        if (mode_ != TMPModes::mpStopped) return;
        mode_ = TMPModes::mpPlaying;
        QTimer::singleShot(0, &context_, [this] {
            if (mode_ != TMPModes::mpPlaying) return;
            mode_ = TMPModes::mpStopped;
            if (OnNotify) OnNotify(TMPNotifyValues::nvFailure);
        });
    }
    bool AtEnd() override { return true; }
    void Rewind() override {}
    void Stop() override
    {
        if (mode_ == TMPModes::mpPlaying) mode_ = TMPModes::mpStopped;
    }
    void Close() override { mode_ = TMPModes::mpNotReady; }
    TMPModes Mode() override { return mode_; }
    std::string ErrorText() override { return why_; }

private:
    std::string why_;
    TMPModes mode_ = TMPModes::mpNotReady;
    QObject context_;
};

// The engine's sound device, made at the first open.
class EngineSoundPlayer final : public ISoundPlayer {
public:
    bool Open(const std::string& fileName) override
    {
        if (!device_) {
            static std::unique_ptr<ISoundPlayers> players =
                EngineModule::Instance().Make<ISoundPlayers, SoundEngineEntry>(kSoundEngineEntry);
            if (players) device_ = players->Create();
            if (!device_)
                device_ = std::make_unique<UnavailableSoundPlayer>("the sound engine could not be loaded: " +
                                                                   EngineModule::Instance().Error());
            device_->OnNotify = [this](TMPNotifyValues value) {
                if (OnNotify) OnNotify(value);
            };
        }
        return device_->Open(fileName);
    }
    void Play() override
    {
        if (device_) device_->Play();
    }
    bool AtEnd() override { return device_ && device_->AtEnd(); }
    void Rewind() override
    {
        if (device_) device_->Rewind();
    }
    void Stop() override
    {
        if (device_) device_->Stop();
    }
    void Close() override
    {
        if (device_) device_->Close();
    }
    TMPModes Mode() override { return device_ ? device_->Mode() : TMPModes::mpNotReady; }
    std::string ErrorText() override { return device_ ? device_->ErrorText() : std::string(); }

private:
    std::unique_ptr<ISoundPlayer> device_;
};

class DesktopSoundPlayers : public ISoundPlayers {
public:
    std::unique_ptr<ISoundPlayer> Create() override { return std::make_unique<EngineSoundPlayer>(); }
};

}  // namespace

std::unique_ptr<IBrowsers> CreateDesktopBrowsers()
{
    return std::make_unique<DesktopBrowsers>();
}

std::unique_ptr<ISoundPlayers> CreateDesktopSoundPlayers()
{
    return std::make_unique<DesktopSoundPlayers>();
}
