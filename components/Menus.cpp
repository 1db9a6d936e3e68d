#include "components/Menus.h"

#include <QAction>
#include <QFont>
#include <QMenu>
#include <QPointer>
#include <QTimer>

#include "components/Application.h"

TMenuItem::TMenuItem(TPopupMenu* owner, const std::string& name, const std::string& caption)
    : name_(name), action_(new QAction(owner->Menu()))
{
    QObject::connect(action_, &QAction::triggered, [this] { Click(); });
    SetCaption(caption);
}

TMenuItem::~TMenuItem() = default;  // the action belongs to the menu

void TMenuItem::SetCaption(const std::string& caption)
{
    caption_ = caption;
    action_->setSeparator(IsSeparator());
    // The toolkit reads "&" and "&&" the same way the captions mean them;
    // some styles would draw a separator's text.
    action_->setText(IsSeparator() ? QString() : QString::fromStdString(caption));
}

void TMenuItem::SetVisible(bool v)
{
    visible_ = v;
    action_->setVisible(v);
}

void TMenuItem::SetDefault(bool v)
{
    default_ = v;
    QFont f = action_->font();
    f.setBold(v);
    action_->setFont(f);
}

void TMenuItem::Click()
{
    Fire(OnClick, this);
}

TPopupMenu::TPopupMenu() : menu_(std::make_unique<QMenu>())
{
    // A tray host that shows the menu itself asks for it before showing it.
    QObject::connect(menu_.get(), &QMenu::aboutToShow, [this] {
        if (!popping_) Fire(OnPopup, this);
    });
}

TPopupMenu::~TPopupMenu()
{
    items_.clear();
}

TMenuItem* TPopupMenu::Add(const std::string& name, const std::string& caption)
{
    items_.push_back(std::make_unique<TMenuItem>(this, name, caption));
    menu_->addAction(items_.back()->Action());
    return items_.back().get();
}

TMenuItem* TPopupMenu::Find(const std::string& name) const
{
    for (auto& i : items_)
        if (i->Name() == name) return i.get();
    return nullptr;
}

void TPopupMenu::Popup(int x, int y)
{
    Fire(OnPopup, this);
    if (OnShown) QTimer::singleShot(0, menu_.get(), [this] { if (OnShown) OnShown(this); });
    popping_ = true;
    QPointer<QMenu> alive = menu_.get();
    menu_->exec(QPoint(x, y));
    if (alive) popping_ = false;
}
