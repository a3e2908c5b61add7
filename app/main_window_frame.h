#pragma once

#include "app/main_window.h"

#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace arbel {

class DetailsScreen;
class ModalWindow;
class ReferenceScreen;
class RepairScreen;
class SavingScreen;
class StartScreen;

// The main window around the screens — header band, heading, and the card
// whose stacked view holds the five screens in the order the controller
// steps through them — and the modal windows of repairing and saving. Every
// widget is owned by `window`.
struct MainWindowFrame {
    std::unique_ptr<MainWindow> window;
    QLabel* upperBoxField = nullptr;
    // The header band's keys, on every screen.
    QPushButton* homeBtn = nullptr;
    QPushButton* helppBtn = nullptr;
    QLabel* socialBtn = nullptr;
    QPushButton* checkForUpdatesBtn = nullptr;
    // Screens are switched by the controller only, so the view shows no tabs.
    QStackedWidget* tabview = nullptr;

    StartScreen* startScreen = nullptr;
    ReferenceScreen* referenceScreen = nullptr;
    RepairScreen* repairScreen = nullptr;
    DetailsScreen* detailsScreen = nullptr;
    SavingScreen* savingScreen = nullptr;

    ModalWindow* filenotselectedwindow = nullptr;
    QPushButton* filenotselectedokbutton = nullptr;
    ModalWindow* stoprepairwindow = nullptr;
    QPushButton* stoprepairokbutton = nullptr;
    QPushButton* stoprepaircancelbutton = nullptr;
    ModalWindow* repairAbortedWindow = nullptr;
    QPushButton* repairAbortedOK = nullptr;
    ModalWindow* couldntRepair = nullptr;
    QPushButton* couldNotRepairOk = nullptr;
    ModalWindow* stopsavingwindow = nullptr;
    QPushButton* stopsavingOKbutton = nullptr;
    QPushButton* stopsavingCancelbutton = nullptr;
    ModalWindow* repaircompletedwindow = nullptr;
    QPushButton* saveCompletedOkBtn = nullptr;
};

// The window as it first appears: the start screen selected.
MainWindowFrame buildMainWindowFrame();

}  // namespace arbel
