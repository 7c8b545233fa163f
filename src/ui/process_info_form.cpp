#include "ui/process_info_form.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>

#include "ui/form_style.h"

namespace tarnwick {

namespace {

constexpr int kIconSize = 32;
// How often the window looks for a finished look-up: quick enough to seem
// immediate, rare enough to cost nothing.
constexpr int kLookupPollMs = 50;
constexpr int kCaptionX = 7;
constexpr int kValueX = 127;
constexpr int kValueWidth = 238;
constexpr int kValueHeight = 18;
constexpr int kCaptionTops[] = {58, 89, 120, 152, 183, 214, 246, 277};

// A read-only, borderless edit in the dialog's colour: reads like a label
// whose text can be selected and copied.
QLineEdit* ValueEdit(QWidget* parent, const QString& name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setFrame(false);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, parent->palette().color(QPalette::Window));
    edit->setPalette(palette);
    edit->setTextMargins(0, 0, 0, 0);
    return edit;
}

// The package's desktop icon, else the file's icon from the desktop, else a
// generic program icon.
QIcon ExecutableIcon(const QStyle* style, const std::string& path, const std::string& iconName) {
    if (!iconName.empty()) {
        const QString name = QString::fromStdString(iconName);
        QIcon icon = name.startsWith(QLatin1Char('/')) ? QIcon(name) : QIcon::fromTheme(name);
        if (!icon.isNull()) return icon;
    }
    QIcon icon = QFileIconProvider().icon(QFileInfo(QString::fromStdString(path)));
    if (!icon.isNull()) return icon;
    return QIcon::fromTheme(QStringLiteral("application-x-executable"), style->standardIcon(QStyle::SP_FileIcon));
}

}  // namespace

TProcessInfo_F::TProcessInfo_F(QWidget* parent)
    : QDialog(parent), Lookup_([this](TProcessInfoFields fields) {
          Fields = std::move(fields);
          if (isVisible()) FormShow();
      }) {
    setObjectName(QStringLiteral("ProcessInfo_F"));
    setWindowTitle(QStringLiteral("Process Info"));
    setModal(false);
    const QFont font = FormFont();
    setFont(font);
    setFixedSize(kClientWidth, kClientHeight);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 7, kIconSize, kIconSize);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = font;
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setGeometry(44, 4, kClientWidth - 44 - 6, 16);

    Edit1 = ValueEdit(this, QStringLiteral("Edit1"));
    Edit1->setGeometry(44, 22, 321, kValueHeight);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(0, 46, kClientWidth, 2);

    QFont underlined = font;
    underlined.setUnderline(true);
    for (size_t i = 0; i < kProcessInfoFields.size(); ++i) {
        const int top = kCaptionTops[i];
        auto* caption = new QLabel(QString::fromUtf8(kProcessInfoFields[i].Caption), this);
        caption->setObjectName(QStringLiteral("Label%1").arg(i + 2));
        caption->setFont(underlined);
        caption->setGeometry(kCaptionX, top, kValueX - kCaptionX - 2, 16);
        Captions[i] = caption;
        Values[i] = ValueEdit(this, QStringLiteral("Edit%1").arg(i + 2));
        Values[i]->setGeometry(kValueX, top - 2, kValueWidth, kValueHeight);
    }

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(156, 320, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::close);

    LookupPoll_ = new QTimer(this);
    LookupPoll_->setInterval(kLookupPollMs);
    connect(LookupPoll_, &QTimer::timeout, this, &TProcessInfo_F::PollLookup);
}

void TProcessInfo_F::ShowForProcess(const std::optional<std::string>& exePath, const TProcessInfoFields& fields) {
    if (!isVisible()) {
        Lookup_.Drop();
        ExeFileName = exePath;
        Fields = fields;
    }
    Present();
}

void TProcessInfo_F::ShowForProcess(const std::optional<std::string>& exePath, TFieldsLookup lookup) {
    if (!isVisible()) {
        Lookup_.Drop();
        ExeFileName = exePath;
        Fields = TProcessInfoFields{};
        if (ExeFileName && lookup) StartLookup(std::move(lookup));
    }
    Present();
}

void TProcessInfo_F::StartLookup(TFieldsLookup lookup) {
    Fields.Values.fill(kPendingValue);
    Lookup_.Start([lookup = std::move(lookup), exePath = *ExeFileName] { return lookup(exePath); });
    if (Lookup_.Pending()) LookupPoll_->start();
}

void TProcessInfo_F::PollLookup() {
    Lookup_.DeliverResult();
    if (!Lookup_.Pending()) LookupPoll_->stop();
}

void TProcessInfo_F::Present() {
    if (!isVisible()) {
        if (QWidget* owner = parentWidget()) CentreOn(*this, *owner);
        show();
    } else {
        raise();
    }
    activateWindow();
}

void TProcessInfo_F::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TProcessInfo_F::FormShow() {
    if (!ExeFileName) return;
    Image1->setPixmap(ExecutableIcon(style(), *ExeFileName, Fields.IconName).pixmap(kIconSize, kIconSize));
    const QString path = QString::fromStdString(*ExeFileName);
    Label1->setText(QFileInfo(path).fileName());
    Edit1->setText(path);
    Edit1->setCursorPosition(0);
    for (size_t i = 0; i < Values.size(); ++i) {
        Values[i]->setText(QString::fromStdString(Fields.Values[i]));
        Values[i]->setCursorPosition(0);
    }
}

}  // namespace tarnwick
