// The widgets of the main window, built in code with their fixed geometry.
#pragma once

class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTextBrowser;
class QWidget;

class MainWindowForm {
public:
    // Builds the widgets on window and sets their built-in texts.
    void SetupUi(QMainWindow* window);
    // The built-in texts, translated in the context "MainWindow".
    void RetranslateUi(QMainWindow* window);

    QWidget* centralWidget = nullptr;
    QPushButton* _btnImage = nullptr;
    QLineEdit* _ctrlImagePath = nullptr;
    QPushButton* _btnExit = nullptr;
    QLabel* label_2 = nullptr;
    QLabel* _ctrlInfo = nullptr;
    QProgressBar* _ctrlProcess = nullptr;
    QTextBrowser* _guildText = nullptr;
    QStatusBar* statusBar = nullptr;
};
