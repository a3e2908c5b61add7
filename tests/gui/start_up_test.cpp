// Start-up: the information file, where resources are found, the open
// panels' filter and the start screen.
#include "gui_support.h"

#include "app/bundle_info.h"
#include "app/ui_prompts.h"
#include "build_info.h"
#include "app/repair_values.h"

#include <QLabel>
#include <QPushButton>
#include <QFileDialog>
#include <QFileSystemModel>

#include <filesystem>
#include <map>

namespace arbel {
namespace {

const std::string kBuiltInfoPlist = std::string(ARBEL_APP_BINARY_DIR) + "/Info.plist";

TEST(InformationFile, BuiltFileCarriesIdentifierVersionAndEmptyUpdateAddress) {
    EXPECT_EQ(readInfoPlistString(kBuiltInfoPlist, "CFBundleIdentifier"), "com.ArbelSoftware.ArbelVideoRepairI");
    EXPECT_EQ(readInfoPlistString(kBuiltInfoPlist, "CFBundleShortVersionString"), std::string(build::kVersion));
    EXPECT_EQ(readInfoPlistString(kBuiltInfoPlist, "cloudPlistUrl"), "");
    EXPECT_EQ(readInfoPlistString(kBuiltInfoPlist, "NoSuchKey"), std::nullopt);
}

TEST(InformationFile, UnreadableOrMisshapenFilesGiveNothing) {
    test::TempDir dir;
    EXPECT_EQ(readInfoPlistString(dir.file("missing.plist"), "CFBundleIdentifier"), std::nullopt);
    const std::string empty = dir.write("empty.plist", {});
    EXPECT_EQ(readInfoPlistString(empty, "CFBundleIdentifier"), std::nullopt);
    const std::string garbage = dir.write("garbage.plist", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'l', 'i', 's', 't'});
    EXPECT_EQ(readInfoPlistString(garbage, "CFBundleIdentifier"), std::nullopt);
    const std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>";
    const std::string array = dir.write("array.plist", std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(readInfoPlistString(array, "CFBundleIdentifier"), std::nullopt);
    const std::string wrongType =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><integer>5</integer>"
        "</dict></plist>";
    const std::string number = dir.write("number.plist", std::vector<uint8_t>(wrongType.begin(), wrongType.end()));
    EXPECT_EQ(readInfoPlistString(number, "CFBundleIdentifier"), std::nullopt);
}

TEST(InformationFile, ResourcesAreFoundBesideTheProgramThenInTheInstalledLayout) {
    test::TempDir root;
    const std::string bin = root.file("bin");
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(root.file("share/arbel-video-repair"));
    const std::string installed = root.write("share/arbel-video-repair/Info.plist", {'x'});
    EXPECT_EQ(std::filesystem::weakly_canonical(locateResource(bin, "Info.plist")),
              std::filesystem::weakly_canonical(installed));

    const std::string beside = root.write("bin/Info.plist", {'x'});
    EXPECT_EQ(locateResource(bin, "Info.plist"), beside);

    // Neither there: the build tree's copy.
    test::TempDir elsewhere;
    EXPECT_EQ(locateResource(elsewhere.path(), "Info.plist"), kBuiltInfoPlist);
    EXPECT_EQ(locateResource(elsewhere.path(), "no-such-resource"), "");
}

// The panel shows the patterns plainly and still offers a movie whatever the
// case of its extension.
TEST(OpenPanelFilter, ShowsPlainPatternsAndOffersTheFourMovieKindsInAnyCase) {
    EXPECT_EQ(movieNameFilter(), "Movies (*.mov *.mp4 *.m4v *.avi)");

    test::TempDir folder;
    const std::map<std::string, bool> files = {
        {"a.mov", true}, {"B.MOV", true}, {"c.Mov", true},  {"d.mp4", true},      {"E.MP4", true},
        {"f.m4v", true}, {"G.M4V", true}, {"h.avi", true},  {"j.aVi", true},      {"k.mkv", false},
        {"mov", false},  {"l.mpg", false}, {"amov", false}, {"m.mov.txt", false},
    };
    for (const auto& [name, offered] : files) folder.write(name, {'x'});

    QWidget parent;
    auto* dialog = new QFileDialog(&parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setDirectory(QString::fromStdString(folder.path()));
    showMoviePanel(dialog);
    EXPECT_EQ(dialog->nameFilters(), QStringList{movieNameFilter()});
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QModelIndex root = model->index(QString::fromStdString(folder.path()));
    // The panel lists the folder's files, those the filter does not take
    // disabled or not at all.
    auto offeredNow = [&] {
        std::map<std::string, bool> seen;
        for (int row = 0; row < model->rowCount(root); ++row) {
            const QModelIndex file = model->index(row, 0, root);
            seen[model->fileName(file).toStdString()] = model->flags(file) & Qt::ItemIsEnabled;
        }
        std::map<std::string, bool> all = files;
        for (auto& [name, offered] : all) offered = seen.count(name) && seen[name];
        return all;
    };
    test::processEventsUntil([&] { return offeredNow() == files; }, std::chrono::seconds(5));
    EXPECT_EQ(offeredNow(), files);
    dialog->close();
}

class StartUp : public test::ControllerTest {};

TEST_F(StartUp, StartScreenOffersBrowseOnly) {
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_EQ(app->upperBoxField->text(), "Select a video file to repair");
    EXPECT_FALSE(app->browsebutton->isHidden());
    EXPECT_TRUE(app->repairbutton->isHidden());
    EXPECT_TRUE(app->backBtn->isHidden());
    EXPECT_TRUE(app->fileStatus->isHidden());
    EXPECT_TRUE(app->filePathUp->isHidden());
    EXPECT_FALSE(app->selectFileText->text().isEmpty());
    EXPECT_EQ(app->browsebutton->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::white));
    EXPECT_EQ(app->values.referenceFileChosen, 0);
}

TEST_F(StartUp, BundleIdentifierComesFromTheInformationFile) {
    app->readBundleIdentifier(kBuiltInfoPlist);
    EXPECT_EQ(app->bundleIdentifier, "com.ArbelSoftware.ArbelVideoRepairI");

    app->bundleIdentifier = "changed";
    app->readBundleIdentifier(dir.file("missing.plist"));
    EXPECT_EQ(app->bundleIdentifier, build::kBundleIdentifier);
}

}  // namespace
}  // namespace arbel
