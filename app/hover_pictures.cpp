// Hover pictures: every tracked control carries its tracker id as the
// property "whichTracker"; the controller filters the controls' Enter and
// Leave events and swaps their pictures after the hover table.
#include "app/Tolvik_Repair_MOVAppDelegate.h"

#include "app/main_window.h"
#include "app/pictures.h"

#include <QEvent>
#include <QLabel>
#include <QWidget>

namespace arbel {

namespace {

const char* const kTrackerKey = "whichTracker";

}  // namespace

const std::vector<HoverRow>& hoverTable() {
    static const std::vector<HoverRow> table = {
        {0, "repairbutton", "Button Small Hover", "Button Small Hover"},
        {4, "main2", "home-2", "home-1"},
        {5, "main3", "home-2", "home-1"},
        {6, "help1", "help-2", "help-1"},
        {7, "help2", "help-2", "help-1"},
        {8, "help3", "help-2", "help-1"},
        {9, "backBtn", "Button Small Hover", "Button Small Normal"},
        {10, "browsebutton", "Button Small Hover", "Button Small Normal"},
        {13, "homeBtn", "Home_key_Hover", "Home_key"},
        {14, "helppBtn", "Help_Hover", "help"},
        {15, "socialBtn", "Social Share_Hover", "Social Share"},
        {16, "selectRefFileBtn", "Button Large Hover", "Button Large Normal"},
        {17, "refTabRepairBtn", "Button Small Hover", "Button Small Hover"},
        {18, "refTabBackBtn", "Button Small Hover", "Button Small Normal"},
        {19, "prewSaveBtn", "Button Small Hover", "Button Small Hover"},
        {20, "prewBtn", "Button Small Hover", "Button Small Normal"},
        {21, "prewTabHomeBtn", "Button Small Hover", "Button Small Normal"},
        {22, "repCancelBtn", "Button Small Hover", "Button Small Normal"},
        {23, "repPauseBtn", "Button Small Hover", "Button Small Hover"},
        {24, "cancelSaveBtn", "Button Small Hover", "Button Small Normal"},
        {25, "stopsavingOKbutton", "Button Small Hover", "Button Small Normal"},
        {26, "stoprepairokbutton", "Button Small Hover", "Button Small Normal"},
    };
    return table;
}

QWidget* Tolvik_Repair_MOVAppDelegate::trackedControl(int whichTracker) const {
    for (const HoverRow& row : hoverTable())
        if (row.whichTracker == whichTracker)
            return window_->findChild<QWidget*>(QString::fromLatin1(row.control));
    return nullptr;
}

void Tolvik_Repair_MOVAppDelegate::createTrackingAreas() {
    for (const HoverRow& row : hoverTable()) {
        QWidget* control = trackedControl(row.whichTracker);
        if (!control) continue;
        control->setProperty(kTrackerKey, row.whichTracker);
        control->setAttribute(Qt::WA_Hover);
        control->installEventFilter(this);
        setPicture(control, QString::fromLatin1(row.leavePicture));
    }
    // main1 is tracked without an id: entering it changes nothing, leaving
    // it restores the pictures like any other.
    main1->installEventFilter(this);
}

bool Tolvik_Repair_MOVAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter) mouseEntered(watched);
    else if (event->type() == QEvent::Leave) mouseExited(watched);
    else if (event->type() == QEvent::MouseMove) mouseDragged();
    return QObject::eventFilter(watched, event);
}

std::optional<QVariantMap> Tolvik_Repair_MOVAppDelegate::trackingDictOf(const QObject* control) {
    const QVariant id = control ? control->property(kTrackerKey) : QVariant();
    if (!id.isValid()) return std::nullopt;
    return QVariantMap{{QString::fromLatin1(kTrackerKey), id}};
}

void Tolvik_Repair_MOVAppDelegate::mouseEntered(QObject* control) {
    const std::optional<QVariantMap> dict = trackingDictOf(control);
    handleEnteredExited(true, dict ? &*dict : nullptr);
}

void Tolvik_Repair_MOVAppDelegate::mouseExited(QObject*) {
    for (const HoverRow& row : hoverTable())
        setPicture(trackedControl(row.whichTracker), QString::fromLatin1(row.leavePicture));
}

int Tolvik_Repair_MOVAppDelegate::getTrackerIDFromDict(const QVariantMap& trackingDict) {
    bool isNumber = false;
    const int id = trackingDict.value(QString::fromLatin1(kTrackerKey)).toInt(&isNumber);
    return isNumber ? id : -1;
}

void Tolvik_Repair_MOVAppDelegate::handleEnteredExited(bool entered, const QVariantMap* trackingDict) {
    if (!trackingDict) return;
    const int id = getTrackerIDFromDict(*trackingDict);
    for (const HoverRow& row : hoverTable()) {
        if (row.whichTracker != id) continue;
        setPicture(trackedControl(id), QString::fromLatin1(entered ? row.enterPicture : row.leavePicture));
        return;
    }
}

}  // namespace arbel
