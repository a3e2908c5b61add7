// Choosing the damaged file and the reference, and the refusals of repair().
#include "gui_support.h"

#include "app/repair_values.h"
#include "support/bytes.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <ostream>

#include <unistd.h>

namespace arbel {
namespace {

using test::ControllerTest;

class ChoosingFiles : public ControllerTest {};

TEST_F(ChoosingFiles, AviFileShowsRepairAndBackOnTheStartScreen) {
    chooseDamaged("clip.avi", test::damagedAviBytes());
    const QString path = QString::fromStdString(dir.file("clip.avi"));

    EXPECT_TRUE(app->aviFile);
    EXPECT_FALSE(app->movFile);
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_FALSE(app->repairbutton->isHidden());
    EXPECT_FALSE(app->backBtn->isHidden());
    EXPECT_FALSE(app->fileStatus->isHidden());
    EXPECT_TRUE(app->selectFileText->isHidden());
    EXPECT_EQ(app->fileStatus->text(), "File Selected");
    EXPECT_EQ(app->filePathUp->text(), "Path:" + path);
    EXPECT_EQ(app->pathfield->text(), path);
    EXPECT_EQ(app->fileNamefield->text(), "clip.avi");
    EXPECT_EQ(app->values.corruptFilePath, dir.file("clip.avi"));
}

TEST_F(ChoosingFiles, UpperCaseMovOpensTheReferenceScreenAndAReferenceEnablesRepair) {
    chooseDamaged("CLIP.MOV", test::damagedMovBytes());
    const QString path = QString::fromStdString(dir.file("CLIP.MOV"));

    EXPECT_TRUE(app->movFile);
    EXPECT_EQ(app->selectedTabIdentifier(), "referenceFileTab");
    EXPECT_EQ(app->refTabFileStatus->text(), "File Selected");
    EXPECT_EQ(app->refTabCorruptPath->text(), "Corrupt File:" + path);
    EXPECT_EQ(app->refTabRefFilePath->text(), "Next Step:Select a healthy video file taken on same camera");
    EXPECT_TRUE(app->refTabRefFilePath->isHidden());
    EXPECT_FALSE(app->refTabRepairBtn->isEnabled());
    EXPECT_TRUE(app->whyMovFile->text().contains("Why i need to select a reference file?"));
    EXPECT_TRUE(app->whyMovFile->text().contains("href="));

    // The reference chooser takes any of the four kinds, whatever the case.
    chooseReference("Healthy.Mp4", test::healthyReferenceBytes());
    EXPECT_EQ(app->values.referenceFileChosen, 1);
    EXPECT_EQ(app->values.referenceFilePath, dir.file("Healthy.Mp4"));
    EXPECT_EQ(app->values.referenceFileSize, test::healthyReferenceBytes().size());
    EXPECT_TRUE(app->refTabRepairBtn->isEnabled());
    EXPECT_TRUE(app->nextstepTextField->isHidden());
    EXPECT_FALSE(app->refTabRefFilePath->isHidden());
    EXPECT_EQ(app->refTabRefFilePath->text(), "Healthy File:" + QString::fromStdString(dir.file("Healthy.Mp4")));
}

TEST_F(ChoosingFiles, OtherExtensionsStayHome) {
    chooseDamaged("notes.txt", test::damagedMovBytes());
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_FALSE(app->movFile);
    EXPECT_FALSE(app->aviFile);
    EXPECT_TRUE(app->repairbutton->isHidden());
    EXPECT_FALSE(app->stopRequested());
}

TEST_F(ChoosingFiles, CancelledPanelChangesNothing) {
    prompts->openAnswers.push_back(QString());
    app->openFinderWindow();
    EXPECT_FALSE(app->values.corruptFilePath.has_value());
    EXPECT_TRUE(app->pathfield->text().isEmpty());
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
}

TEST_F(ChoosingFiles, LinkedFileShowsTheSizeOfItsTarget) {
    const std::string target = dir.write("target.avi", test::Bytes().text("RIFF").fill(2'500'000, 1).vec());
    const std::string link = dir.file("link.avi");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    prompts->openAnswers.push_back(QString::fromStdString(link));
    app->openFinderWindow();
    EXPECT_EQ(app->values.corruptFileSize, 2'500'004u);
    EXPECT_EQ(app->values.corruptFileSizeCopy, 2'500'004u);
    EXPECT_EQ(app->sizeField->text(), "2.50 MB");
}

// After each step that moves it, the keyboard is on the button the user
// presses next, and that button is in sight and can be pressed.
class KeyboardFocus;
struct FocusCase {
    const char* name;
    void (KeyboardFocus::*steps)();
    QPushButton* Tolvik_Repair_MOVAppDelegate::*next;
};

void PrintTo(const FocusCase& row, std::ostream* out) { *out << row.name; }

class KeyboardFocus : public ControllerTest, public ::testing::WithParamInterface<FocusCase> {
public:
    void startUp() {}
    void chooseAQuickTimeFileAndItsReference() { readyQuickTimeRepair(); }
    void goBackHomeFromTheReferenceScreen() {
        readyQuickTimeRepair();
        app->refTabBackBtn->click();
    }
};

TEST_P(KeyboardFocus, IsOnTheVisibleButtonThatComesNext) {
    app->window()->activateWindow();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->window()->isActiveWindow(); }));
    (this->*GetParam().steps)();
    test::processPendingEvents();

    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    EXPECT_EQ(focused, (*app).*GetParam().next) << "focus is on " << focused->objectName().toStdString();
    EXPECT_TRUE(focused->isVisible());
    EXPECT_TRUE(focused->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, KeyboardFocus,
    ::testing::Values(
        FocusCase{"StartUp", &KeyboardFocus::startUp, &Tolvik_Repair_MOVAppDelegate::browsebutton},
        FocusCase{"ReferenceChosen", &KeyboardFocus::chooseAQuickTimeFileAndItsReference,
                  &Tolvik_Repair_MOVAppDelegate::refTabRepairBtn},
        FocusCase{"BackHome", &KeyboardFocus::goBackHomeFromTheReferenceScreen,
                  &Tolvik_Repair_MOVAppDelegate::browsebutton}),
    [](const ::testing::TestParamInfo<FocusCase>& row) { return std::string(row.param.name); });

class Refusals : public ControllerTest {
protected:
    void expectOnePanel(const char* title, const char* text) {
        ASSERT_EQ(prompts->panels.size(), 1u);
        EXPECT_EQ(prompts->panels[0].title, title);
        EXPECT_EQ(prompts->panels[0].text, text);
        EXPECT_EQ(prompts->panels[0].button, "OK");
    }
    void expectNoRepairStarted() {
        EXPECT_FALSE(app->getRepairing());
        EXPECT_EQ(app->latestWorkerFinished(), nullptr);
        EXPECT_FALSE(app->repairClockTimer().isActive());
        EXPECT_TRUE(prompts->modalsShown.empty());
    }
};

TEST_F(Refusals, RepairWithoutADamagedFileShowsTheNoFileSheet) {
    app->repair();
    EXPECT_EQ(prompts->sheetsShown, std::vector<QString>{"filenotselectedwindow"});
    EXPECT_TRUE(prompts->panels.empty());
    EXPECT_EQ(app->repair_, nullptr);
    expectNoRepairStarted();

    app->filenotselectedokbutton->click();
    EXPECT_EQ(prompts->windowsEnded, std::vector<QString>{"filenotselectedwindow"});
    EXPECT_FALSE(app->filenotselectedwindow->isVisible());
}

TEST_F(Refusals, QuickTimeRepairWithoutReferenceAsksForOne) {
    chooseDamaged("damaged.mov", test::damagedMovBytes());
    app->repair();
    expectOnePanel("Reference file not selected", "Select a reference file to proceed.");
    EXPECT_EQ(app->selectedTabIdentifier(), "referenceFileTab");
    EXPECT_NE(app->repair_, nullptr);  // the new engines exist already
    EXPECT_NE(app->repairAvi, nullptr);
    expectNoRepairStarted();
}

TEST_F(Refusals, ReferenceWithoutMoovAndMdatIsRefused) {
    chooseDamaged("damaged.mov", test::damagedMovBytes());
    chooseReference("healthy.mov", test::noStructureBytes());
    app->repair();
    expectOnePanel("Invalid reference file", "Select a healthy movie file");
    EXPECT_EQ(app->selectedTabIdentifier(), "referenceFileTab");
    EXPECT_TRUE(app->refTabRepairBtn->isEnabled());  // the user may pick another reference
    expectNoRepairStarted();
}

TEST_F(Refusals, DamagedQuickTimeFileWithoutAnyAtomIsRefused) {
    chooseDamaged("damaged.mov", test::noStructureBytes());
    chooseReference("healthy.mov", test::healthyReferenceBytes());
    app->repair();
    expectOnePanel("Invalid corrupted file", "Select a movie file");
    EXPECT_EQ(app->repairbutton->property("state").toInt(), 1);
    EXPECT_EQ(app->selectedTabIdentifier(), "referenceFileTab");
    expectNoRepairStarted();
}

TEST_F(Refusals, AviFileWithoutAnyStructureIsRefused) {
    chooseDamaged("damaged.avi", test::noStructureBytes());
    app->repair();
    expectOnePanel("Invalid corrupted file", "Select a movie file");
    EXPECT_EQ(app->repairbutton->property("state").toInt(), 1);
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_FALSE(app->repairbutton->isHidden());
    expectNoRepairStarted();
}

}  // namespace
}  // namespace arbel
