#include "mainwindowform.h"

#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>

namespace {

constexpr int kWidth = 804;
constexpr int kHeight = 593;
constexpr QSize kIconSize(36, 36);

QFont PointFont(int points)
{
    QFont font;
    font.setPointSize(points);
    return font;
}

QPushButton* Button(QWidget* parent, const char* name, QRect geometry, const char* icon)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setFont(PointFont(12));
    button->setCursor(QCursor(Qt::PointingHandCursor));
    button->setIcon(QIcon(QString::fromLatin1(icon)));
    button->setIconSize(kIconSize);
    return button;
}

} // namespace

void MainWindowForm::SetupUi(QMainWindow* window)
{
    // The icons are compiled into the program's static library, whose
    // resources are registered by hand.
    Q_INIT_RESOURCE(resources);
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(kWidth, kHeight);
    window->setMinimumSize(kWidth, kHeight);
    window->setMaximumSize(kWidth, kHeight);
    window->setFont(PointFont(14));
    window->setTabShape(QTabWidget::Rounded);

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));

    _btnImage
        = Button(centralWidget, "_btnImage", QRect(10, 14, 121, 41), ":/main/button/res/burn.png");
    _btnImage->setFocusPolicy(Qt::TabFocus);

    _ctrlImagePath = new QLineEdit(centralWidget);
    _ctrlImagePath->setObjectName(QStringLiteral("_ctrlImagePath"));
    _ctrlImagePath->setGeometry(QRect(140, 20, 651, 31));
    _ctrlImagePath->setFont(PointFont(12));
    _ctrlImagePath->setReadOnly(true);

    _btnExit
        = Button(centralWidget, "_btnExit", QRect(670, 510, 101, 41), ":/main/button/res/quit.png");

    label_2 = new QLabel(centralWidget);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setGeometry(QRect(20, 70, 111, 21));
    label_2->setFont(PointFont(13));
    label_2->setAlignment(Qt::AlignCenter);

    _ctrlInfo = new QLabel(centralWidget);
    _ctrlInfo->setObjectName(QStringLiteral("_ctrlInfo"));
    _ctrlInfo->setGeometry(QRect(20, 110, 771, 61));
    _ctrlInfo->setFont(PointFont(12));
    _ctrlInfo->setLayoutDirection(Qt::LeftToRight);
    _ctrlInfo->setTextFormat(Qt::AutoText);
    _ctrlInfo->setScaledContents(false);
    _ctrlInfo->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    _ctrlInfo->setWordWrap(true);
    _ctrlInfo->setMargin(0);
    _ctrlInfo->setIndent(-1);

    _ctrlProcess = new QProgressBar(centralWidget);
    _ctrlProcess->setObjectName(QStringLiteral("_ctrlProcess"));
    _ctrlProcess->setGeometry(QRect(140, 70, 651, 23));
    _ctrlProcess->setFont(PointFont(12));
    _ctrlProcess->setValue(24);

    _guildText = new QTextBrowser(centralWidget);
    _guildText->setObjectName(QStringLiteral("_guildText"));
    _guildText->setGeometry(QRect(20, 180, 771, 321));
    _guildText->setMinimumSize(QSize(521, 192));
    _guildText->setMaximumSize(QSize(800, 500));
    QFont guideFont = PointFont(12);
    guideFont.setWeight(QFont::Normal);
    _guildText->setFont(guideFont);
    _guildText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    window->setCentralWidget(centralWidget);
    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);

    RetranslateUi(window);
}

void MainWindowForm::RetranslateUi(QMainWindow* window)
{
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "Vemora"));
    window->setToolTip(QString());
    _btnImage->setText(QCoreApplication::translate("MainWindow", "Image"));
    _btnExit->setText(QCoreApplication::translate("MainWindow", "Exit"));
    label_2->setText(QCoreApplication::translate("MainWindow", "Progress"));
}
