// Albums under a temporary home: the album base from the registry or the XDG user folders,
// the album list, the add-to-album command with its question, and a copy that never loses
// the photo already in the album.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <functional>

#include "Dialogs.h"
#include "LngWriter.h"
#include "ListInput.h"
#include "LnkWriter.h"
#include "Registry.h"
#include "ShortcutLink.h"
#include "addtoalbum.h"
#include "global.h"
#include "saver/TestDir.h"
#include "specialfolder.h"
#include "transclass.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct Answers : TDialogResponder {
    std::vector<std::string> boxes;
    int answer = IDYES;
    std::function<void(Taddphoto&)> choose;
    int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override {
        boxes.push_back(Caption + "|" + Text + "|" + std::to_string(Flags));
        return answer;
    }
    void ModalForm(TForm& f) override { choose(dynamic_cast<Taddphoto&>(f)); }
};

// HOME and XDG_CONFIG_HOME in a temporary folder, so neither the user's folders nor the
// user's registry stand-in are touched.
class Albums : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"HOME", "XDG_CONFIG_HOME"}) {
            const char* old = std::getenv(v);
            saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        home = home_.Path();
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        fs::create_directories(home + "/.config");
        UserDirs("$HOME/Bilder", "$HOME/Dokumente");
        SetDialogResponder(&r);
        GlobalStrings = TGlobalStrings();
    }
    void TearDown() override {
        SetDialogResponder(nullptr);
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        GlobalStrings = TGlobalStrings();
        LangData = nullptr;
    }
    void UserDirs(const std::string& pictures, const std::string& documents) {
        std::ofstream(home + "/.config/user-dirs.dirs")
            << "XDG_PICTURES_DIR=\"" << pictures << "\"\nXDG_DOCUMENTS_DIR=\"" << documents << "\"\n";
    }
    static void SetBase(const std::string& path) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\Vantorel\\Glimmerdeck\\Album", true));
        reg.WriteString("Path", path);
    }
    // Chooses the album whose item text starts with Name and confirms.
    void Choose(const std::string& name) {
        r.choose = [name](Taddphoto& f) {
            for (int i = 0; i < f.list->count(); ++i)
                if (f.list->item(i)->text().toStdString().rfind(name, 0) == 0) f.list->setCurrentRow(i);
            f.Button2->click();
        };
    }
    TestDir home_;
    std::string home;
    Answers r;
    TShortcutLink shortcut{nullptr};

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

TEST_F(Albums, ListFromTheBaseFolder) {
    const std::string base = home + "/Photos";
    for (const char* d : {"Holiday", "Glimmerdeck Dumped Photos", "glimmerdeck dumped photos", "Glimmerdeck Photobook",
                          ".hidden", "Glimmerdeck PalmOS-Album"})
        fs::create_directories(base + "/" + d);
    fs::create_directories(home + "/elsewhere/Trip");
    fs::create_directories(home + "/elsewhere/Family");
    fs::create_directory_symlink(home + "/elsewhere/Trip", base + "/Trip");
    fs::create_directory_symlink(home + "/elsewhere/Gone", base + "/Dangling");
    WriteAll(base + "/bad.lnk", "garbage");
    WriteAll(base + "/photo.jpg", "not a folder");
    LnkWriter::Save(base + "/Family.lnk", LnkWriter::Make({.localBasePath = home + "/elsewhere/Family"}));
    LnkWriter::Save(base + "/Upper.LNK", LnkWriter::Make({.localBasePath = home + "/elsewhere/Family"}));
    LnkWriter::Save(base + "/ToAFile.lnk", LnkWriter::Make({.localBasePath = base + "/photo.jpg"}));
    // A relative path "..<NUL>z": cut at the NUL it would name the folder above the base.
    fs::copy_file(GD_SOURCE_DIR "/tests/viewer/fixtures/hostile/lnk_relative_path_with_nul.lnk", base + "/Above.lnk");
    ASSERT_EQ(::mkfifo((base + "/Pipe.lnk").c_str(), 0600), 0);
    SetBase(base);

    TAlbumList list;
    BuildAlbumList(list, &shortcut);
    EXPECT_TRUE(list.Built);
    EXPECT_EQ(list.Base, base);
    const std::vector<std::string> names = {"Photos (album base directory)", "Family", "glimmerdeck dumped photos",
                                            "Glimmerdeck Photobook", "Holiday", "Trip"};
    EXPECT_EQ(list.Names, names);
    std::vector<std::string> paths;
    for (int i : list.PathIndex) paths.push_back(list.Paths.at(size_t(i)));
    EXPECT_EQ(paths, (std::vector<std::string>{base, home + "/elsewhere/Family", base + "/glimmerdeck dumped photos",
                                               base + "/Glimmerdeck Photobook", base + "/Holiday", base + "/Trip"}));
    // Translated folder names are the ones left out.
    GlobalStrings.sdumpdir = "glimmerdeck dumped photos";
    BuildAlbumList(list, &shortcut);
    EXPECT_EQ(list.Names.at(2), "Glimmerdeck Dumped Photos");
}

// Names sort as the desktop sorts them in the user's language, accented letters beside
// their base letters rather than after "Z".
TEST_F(Albums, NamesSortInTheUsersLanguage) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::string base = home + "/Photos";
    for (const char* d : {"Zoo", "\xC3\x84pfel", "apple", "B\xC3\xA4r", "bus", "Baum"}) fs::create_directories(base + "/" + d);
    SetBase(base);
    TAlbumList list;
    BuildAlbumList(list, &shortcut);
    QLocale::setDefault(before);
    EXPECT_EQ(list.Names, (std::vector<std::string>{"Photos (album base directory)", "\xC3\x84pfel", "apple",
                                                    "B\xC3\xA4r", "Baum", "bus", "Zoo"}));
}

// The same order under the C locale (no language: the common order of Unicode) as in German:
// accented names beside their base letters, never after "Z".
TEST_F(Albums, OrderBesideTheBaseLettersUnderTheCLocaleAndInGerman) {
    const std::string base = home + "/Photos";
    for (const char* d : {"Zebra", "\xC3\x84hre", "apple", "\xC3\x84rger", "Bar", "\xC3\x96l", "Ost", "\xC3\xA9t\xC3\xA9", "Eis"})
        fs::create_directories(base + "/" + d);
    SetBase(base);
    const std::vector<std::string> order = {"Photos (album base directory)", "\xC3\x84hre", "apple", "\xC3\x84rger",
                                            "Bar", "Eis", "\xC3\xA9t\xC3\xA9", "\xC3\x96l", "Ost", "Zebra"};
    const QLocale before;
    for (const QLocale& l : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        SCOPED_TRACE(l.name().toStdString());
        QLocale::setDefault(l);
        TAlbumList list;
        BuildAlbumList(list, &shortcut);
        EXPECT_EQ(list.Names, order);
        EXPECT_LT(AnsiCompareText("\xC3\x84hre", "Zebra"), 0);
        EXPECT_EQ(AnsiCompareText("apple", "APPLE"), 0);
    }
    QLocale::setDefault(before);
}

// The same through the process's own locale, as a user's session sets it: the test program
// run again under LC_ALL=C.UTF-8 and under a German locale.
TEST_F(Albums, OrderUnderTheProcessLocale) {
    if (const char* want = std::getenv("GD_ALBUM_ORDER_LOCALE")) {
        // The run inside the child: the locale must have come from the environment.
        const QLocale l = QLocale().collation();
        if (std::string(want) == "de" && l.language() != QLocale::German) GTEST_SKIP() << "no German locale here";
        if (std::string(want) == "C") ASSERT_EQ(l.language(), QLocale::C);
        const std::string base = home + "/Photos";
        for (const char* d : {"Zebra", "\xC3\x84hre", "apple"}) fs::create_directories(base + "/" + d);
        SetBase(base);
        TAlbumList list;
        BuildAlbumList(list, &shortcut);
        EXPECT_EQ(list.Names, (std::vector<std::string>{"Photos (album base directory)", "\xC3\x84hre", "apple", "Zebra"}));
        return;
    }
    for (const auto& [locale, name] : {std::pair{"C.UTF-8", "C"}, {"de_DE.UTF-8", "de"}}) {
        SCOPED_TRACE(locale);
        const std::string out = home + "/child-" + name;
        const pid_t pid = ::fork();
        if (pid == 0) {
            setenv("LC_ALL", locale, 1);
            setenv("LANG", locale, 1);
            setenv("GD_ALBUM_ORDER_LOCALE", name, 1);
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execl("/proc/self/exe", "viewer_tests", "--gtest_filter=Albums.OrderUnderTheProcessLocale", nullptr);
            ::_exit(127);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        const std::string text = ReadAll(out);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
        if (text.find("[  SKIPPED ] 1 test") != std::string::npos) continue;   // that locale is not to be had
        EXPECT_NE(text.find("[  PASSED  ] 1 test"), std::string::npos) << text;
    }
}

TEST_F(Albums, SameNamesAreAllListedEachWithItsOwnFolder) {
    const std::string base = home + "/Photos";
    fs::create_directories(base + "/Holiday");
    fs::create_directories(base + "/holiday");
    fs::create_directories(home + "/other/Holiday");
    LnkWriter::Save(base + "/Holiday.lnk", LnkWriter::Make({.localBasePath = home + "/other/Holiday"}));
    SetBase(base + "/");
    TAlbumList list;
    BuildAlbumList(list, &shortcut);
    // A base ending in "/" gives an entry of the attachment alone.
    ASSERT_EQ(list.Names.size(), 4u);
    EXPECT_EQ(list.Names[0], " (album base directory)");
    EXPECT_EQ(list.Names[1], "Holiday");
    EXPECT_EQ(list.Names[2], "Holiday (" + home + "/other/Holiday)");
    EXPECT_EQ(list.Names[3], "holiday");
    EXPECT_EQ(list.Paths[size_t(list.PathIndex[1])], base + "/Holiday");
    EXPECT_EQ(list.Paths[size_t(list.PathIndex[2])], home + "/other/Holiday");
    EXPECT_EQ(list.Paths[size_t(list.PathIndex[3])], base + "/holiday");
}

// The chooser as the user meets it: whatever is picked stays picked through a click into the
// white space below the items (or a Ctrl+click on it), and OK, Enter or the close box decide.
TEST_F(Albums, TheChooserKeepsTheAlbumPicked) {
    const std::string base = home + "/Bilder";
    for (const char* d : {"Garden", "Holiday"}) fs::create_directories(base + "/" + d);
    fs::create_directories(home + "/in");
    const std::string photo = home + "/in/beach.jpg";
    WriteAll(photo, "photo");
    enum Close { ok, enter, closeBox };
    struct Case {
        int pick;            // -1: nothing picked (item 0, the base, stays)
        bool clickBeside;    // a click into the empty space below the items
        bool ctrlClick;      // Ctrl+click on the chosen item
        Close close;
        const char* copiedTo;   // "" for nothing copied
    } cases[] = {
        {-1, false, false, ok, ""},          {-1, true, false, ok, ""},
        {2, false, false, ok, "Holiday"},    {2, true, false, ok, "Holiday"},
        {1, true, false, enter, "Garden"},   {1, false, true, ok, "Garden"},
        {2, true, true, enter, "Holiday"},   {2, true, false, closeBox, nullptr},
        {-1, true, false, closeBox, nullptr},
    };
    TAlbumList list;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pick) + (c.clickBeside ? " beside" : "") + (c.ctrlClick ? " ctrl" : "") + " " +
                     std::to_string(c.close));
        for (const std::string& f : {base + "/beach.jpg", base + "/Garden/beach.jpg", base + "/Holiday/beach.jpg"})
            fs::remove(f);
        r.boxes.clear();
        r.choose = [&](Taddphoto& f) {
            EXPECT_EQ(f.list->count(), 3);
            EXPECT_EQ(f.list->currentRow(), 0);
            if (c.pick >= 0) ClickRow(f.list, c.pick);
            if (c.clickBeside) ClickBelowItems(f.list);
            if (c.ctrlClick) ClickRow(f.list, std::max(c.pick, 0), Qt::ControlModifier);
            const QList<QListWidgetItem*> chosen = f.list->selectedItems();
            EXPECT_EQ(chosen.size(), 1);
            if (!chosen.isEmpty()) EXPECT_EQ(f.list->row(chosen.first()), std::max(c.pick, 0));
            // Closed whatever was found, so that a failure cannot leave the window open.
            if (c.close == ok) f.Button2->click();
            else if (c.close == enter) PressKey(f.list, Qt::Key_Return);
            else f.Close();
        };
        AddPhotoToAlbum(list, &shortcut, photo);
        EXPECT_TRUE(r.boxes.empty()) << r.boxes.front();
        const std::string album = c.copiedTo ? base + (*c.copiedTo ? "/" + std::string(c.copiedTo) : "") : "";
        for (const std::string& a : {base, base + "/Garden", base + "/Holiday"})
            EXPECT_EQ(fs::exists(a + "/beach.jpg"), a == album) << a;
    }
}

// Every translated text that names a file or a folder is one plain name; anything else (a
// separator, "..", ".", a NUL, nothing, a name too long for a folder) keeps the built-in name.
TEST_F(Albums, TranslatedFolderNamesAreOnePathComponent) {
    const TGlobalStrings d;
    const std::pair<const char*, const std::string TGlobalStrings::*> keys[] = {
        {"global.sgdalbumsname", &TGlobalStrings::sgdalbumsname},   {"global.sdumpdir", &TGlobalStrings::sdumpdir},
        {"global.sbatchdir", &TGlobalStrings::sbatchdir},           {"global.sscreesaverdir", &TGlobalStrings::sscreesaverdir},
        {"global.sPhotobookDir", &TGlobalStrings::sPhotobookDir},   {"global.sslideshowdir", &TGlobalStrings::sslideshowdir},
        {"global.shtmldir", &TGlobalStrings::shtmldir},             {"global.spdfdir", &TGlobalStrings::spdfdir},
        {"global.sbackupdir", &TGlobalStrings::sbackupdir},         {"global.spalmdir", &TGlobalStrings::spalmdir},
        {"global.shtmlcommentfile", &TGlobalStrings::shtmlcommentfile},
    };
    const std::pair<std::string, bool> names[] = {
        {"Meine Alben", true},          {std::string(255, 'n'), true},  {"Fotos \xE4lter", true},
        {"../../escaped", false},       {"a/b", false},                 {"/absolute", false},
        {"..\\..\\escaped", false},    {"..", false},                  {".", false},
        {std::string("x\0y", 3), false}, {"", false},                    {std::string(256, 'n'), false},
    };
    TestDir dir;
    for (const auto& [text, taken] : names) {
        SCOPED_TRACE(text.size() > 40 ? std::to_string(text.size()) + " bytes" : text);
        LngWriter w;
        w.Header(int32_t(std::size(keys)));
        for (const auto& [key, field] : keys) w.Entry(key, text, 12);
        w.Save(dir.File("names.lng"));
        tlangdata table;
        table.LoadFromFile(dir.File("names.lng"));
        LangData = &table;
        LoadGlobalStrings();
        LangData = nullptr;
        for (const auto& [key, field] : keys) {
            const std::string& got = GlobalStrings.*field;
            if (taken) EXPECT_EQ(got, DecodeCharset(text, 1)) << key;
            else EXPECT_EQ(got, d.*field) << key;
            EXPECT_TRUE(IsPathComponent(got)) << key;
        }
    }
    // The texts that name no file keep whatever the translation says.
    LngWriter().Header(1).Entry("global.sbasenameattach", " / (../base)").Save(dir.File("attach.lng"));
    tlangdata table;
    table.LoadFromFile(dir.File("attach.lng"));
    LangData = &table;
    LoadGlobalStrings();
    LangData = nullptr;
    EXPECT_EQ(GlobalStrings.sbasenameattach, " / (../base)");
}

// The language file that named "../../escaped/created_by_translation" as the albums folder:
// the default album base stays right inside the documents folder, and nothing is made
// outside it.
TEST_F(Albums, ALanguageFileCannotLeadTheAlbumFolderElsewhere) {
    UserDirs("$HOME/", "$HOME/Dokumente/Tief/Innen");   // no pictures folder: documents + albums name
    tlangdata table;
    table.LoadFromFile(GD_SOURCE_DIR "/tests/viewer/fixtures/hostile/lng_albumsname.lng");
    ASSERT_EQ(table.Translate("global.sgdalbumsname", ""), "../../escaped/created_by_translation");
    LangData = &table;
    LoadGlobalStrings();
    LangData = nullptr;
    EXPECT_EQ(GlobalStrings.sgdalbumsname, "Glimmerdeck_Albums");
    EXPECT_EQ(AlbumBaseDirectory(), home + "/Dokumente/Tief/Innen/Glimmerdeck_Albums");
    for (const auto& e : fs::recursive_directory_iterator(home))
        EXPECT_EQ(e.path().string().find("escaped"), std::string::npos) << e.path();
    // Set by hand, the name is checked where the folder is made too.
    GlobalStrings.sgdalbumsname = "../../escaped";
    EXPECT_EQ(DefaultAlbumBase(), home + "/Dokumente/Tief/Innen/Glimmerdeck_Albums");
}

TEST_F(Albums, DefaultBaseFromTheUserFolders) {
    // A registry value of another type is no base; the pictures folder is made.
    {
        TRegistry reg;
        reg.OpenKey("\\software\\vantorel\\glimmerdeck\\album", true);
        reg.WriteInteger("path", 5);
    }
    EXPECT_EQ(AlbumBaseDirectory(), home + "/Bilder");
    EXPECT_TRUE(fs::is_directory(home + "/Bilder"));
    SetBase(home + "/missing");
    EXPECT_EQ(AlbumBaseDirectory(), home + "/Bilder");
    // A disabled pictures folder is written as the home folder itself.
    UserDirs("$HOME/", "$HOME/Dokumente");
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_MYPICTURES), "");
    EXPECT_EQ(DefaultAlbumBase(), home + "/Dokumente/Glimmerdeck_Albums");
    UserDirs("$HOME", "$HOME/");
    GlobalStrings.sgdalbumsname = "Alben";
    EXPECT_EQ(DefaultAlbumBase(), home + "/Alben");
    EXPECT_EQ(AlbumBaseDirectory(), home + "/Alben");
    EXPECT_TRUE(fs::is_directory(home + "/Alben"));
    EXPECT_EQ(GetSpecialFolderPath(12345), "");
}

TEST_F(Albums, AddToAlbumCopiesAsksAndNeverLosesThePhoto) {
    const std::string base = home + "/Bilder";
    fs::create_directories(base + "/Holiday");
    fs::create_directories(home + "/in");
    const std::string photo = home + "/in/beach.jpg";
    WriteAll(photo, "new photo bytes");
    TAlbumList list;

    // Cancel copies nothing and says nothing; OK without a photo copies nothing and says why.
    r.choose = [](Taddphoto& f) { f.Button3->click(); };
    AddPhotoToAlbum(list, &shortcut, photo);
    EXPECT_TRUE(r.boxes.empty());
    Choose("Holiday");
    AddPhotoToAlbum(list, &shortcut, "");
    EXPECT_FALSE(fs::exists(base + "/Holiday/beach.jpg"));
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0], std::string("Information|") + kNoPhotoToAdd + "|" + std::to_string(MB_OK | MB_ICONINFORMATION));
    r.boxes.clear();

    AddPhotoToAlbum(list, &shortcut, photo);
    EXPECT_EQ(ReadAll(base + "/Holiday/beach.jpg"), "new photo bytes");
    EXPECT_TRUE(r.boxes.empty());

    WriteAll(base + "/Holiday/beach.jpg", "old photo");
    r.answer = IDNO;
    AddPhotoToAlbum(list, &shortcut, photo);
    EXPECT_EQ(ReadAll(base + "/Holiday/beach.jpg"), "old photo");
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0], "Confirmation|There is already a photo with the name \"beach.jpg\" in the album Holiday.\r\n"
                          "Do you want to overwrite it?|" + std::to_string(MB_YESNO | MB_ICONQUESTION));
    r.answer = IDYES;
    AddPhotoToAlbum(list, &shortcut, photo);
    EXPECT_EQ(ReadAll(base + "/Holiday/beach.jpg"), "new photo bytes");

    // The photo shown from the album itself: nothing to copy, nothing asked, nothing lost.
    r.boxes.clear();
    AddPhotoToAlbum(list, &shortcut, base + "/Holiday/beach.jpg");
    EXPECT_EQ(ReadAll(base + "/Holiday/beach.jpg"), "new photo bytes");
    EXPECT_TRUE(r.boxes.empty());

    // The album folder turned into a file after the list was made: the copy fails and says so.
    fs::remove_all(base + "/Holiday");
    WriteAll(base + "/Holiday", "a file");
    AddPhotoToAlbum(list, &shortcut, photo);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].rfind("Error|Cannot create file \"" + base + "/Holiday/beach.jpg\"", 0), 0u) << r.boxes[0];
    EXPECT_EQ(ReadAll(base + "/Holiday"), "a file");
    for (const auto& e : fs::directory_iterator(base)) EXPECT_EQ(e.path().filename().string().find(".gdview"), std::string::npos);
}

TEST_F(Albums, ACopyThatFailsHalfWayKeepsTheOldPhoto) {
    const std::string album = home + "/album";
    fs::create_directories(album);
    WriteAll(album + "/p.jpg", "the old photo");
    WriteAll(home + "/big.jpg", std::string(3 << 20, 'x'));
    // A file-size limit of 1 MiB in a child process: the write fails even for root.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        int code = 1;
        try {
            CopyFileByStream(home + "/big.jpg", album + "/p.jpg");
        } catch (const EWriteError&) {
            code = 0;
        } catch (...) {
            code = 2;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy did not fail with a write error";
    EXPECT_EQ(ReadAll(album + "/p.jpg"), "the old photo");
    EXPECT_EQ(std::distance(fs::directory_iterator(album), fs::directory_iterator()), 1) << "temporary file left";
    // Without the limit it goes through, keeping the old file's permissions.
    fs::permissions(album + "/p.jpg", fs::perms(0640));
    CopyFileByStream(home + "/big.jpg", album + "/p.jpg");
    EXPECT_EQ(fs::file_size(album + "/p.jpg"), 3u << 20);
    EXPECT_EQ(fs::status(album + "/p.jpg").permissions(), fs::perms(0640));
    EXPECT_THROW(CopyFileByStream(home + "/none.jpg", album + "/q.jpg"), EFOpenError);
    EXPECT_FALSE(fs::exists(album + "/q.jpg"));
}

// The chooser keeps its stored layout for the built-in texts and grows for long
// translations: the whole question shown, both buttons as wide as their captions, inside
// the window and apart.
TEST_F(Albums, ChooserGrowsForLongTranslations) {
    auto check = [](Taddphoto& f) {
        QWidget* client = f.Button2->parentWidget();
        EXPECT_GE(f.Label1->height(), f.Label1->heightForWidth(f.Label1->width()));
        for (QPushButton* b : {f.Button2, f.Button3}) {
            EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
            EXPECT_TRUE(client->rect().contains(b->geometry())) << b->text().toStdString();
        }
        EXPECT_LE(f.Button2->geometry().right(), f.Button3->geometry().left());
        EXPECT_LE(f.Label1->geometry().bottom(), f.list->geometry().top());
        EXPECT_LE(f.list->geometry().bottom(), f.Button2->geometry().top());
        // The question wraps inside the window, not past its right edge.
        EXPECT_TRUE(client->rect().contains(f.Label1->geometry()));
    };
    Taddphoto plain(nullptr);
    check(plain);
    const int plainWidth = plain.ClientWidth(), plainHeight = plain.ClientHeight();

    TestDir dir;
    const std::string longWords(12, 'W');
    std::string question;
    for (int i = 0; i < 12; ++i) question += "Choose the album for this photograph ";
    LngWriter()
        .Header(3)
        .Entry("viewer.add.label1.caption", question, 12)   // longer than a short string holds
        .Entry("viewer.add.button2.caption", "Add to the album " + longWords)
        .Entry("viewer.add.button3.caption", "Cancel without copying " + longWords)
        .Save(dir.File("long.lng"));
    tlangdata table;
    table.LoadFromFile(dir.File("long.lng"));
    LangData = &table;
    Taddphoto grown(nullptr);
    LangData = nullptr;
    EXPECT_EQ(grown.Button3->text().toStdString(), "Cancel without copying " + longWords);
    check(grown);
    EXPECT_GT(grown.ClientWidth(), plainWidth);
    EXPECT_GT(grown.ClientHeight(), plainHeight);
    // A long question alone: the window keeps its width, the question wraps inside it.
    LngWriter().Header(1).Entry("viewer.add.label1.caption", question, 12).Save(dir.File("question.lng"));
    tlangdata questionOnly;
    questionOnly.LoadFromFile(dir.File("question.lng"));
    LangData = &questionOnly;
    Taddphoto asked(nullptr);
    LangData = nullptr;
    check(asked);
    EXPECT_EQ(asked.ClientWidth(), plainWidth);
    // Shown, where the controls fit their texts once more.
    for (Taddphoto* f : {&plain, &grown, &asked}) {
        f->Show();
        QApplication::processEvents();
        check(*f);
        f->Hide();
    }
}

TEST_F(Albums, TranslatedQuestionTakesOnlyStringArguments) {
    TestDir dir;
    LngWriter()
        .Header(2)
        .Entry("viewer.overwrite", "%d%n%s%s%s")
        .Entry("messagedlg.confirmation", "Frage")
        .Save(dir.File("x.lng"));
    tlangdata table;
    LangData = &table;
    EXPECT_EQ(OverwriteQuestion("a.jpg", "Trip"),
              "There is already a photo with the name \"a.jpg\" in the album Trip.\r\nDo you want to overwrite it?");
    table.LoadFromFile(dir.File("x.lng"));
    LoadGlobalStrings();
    EXPECT_EQ(GlobalStrings.smsgconfirmation, "Frage");
    EXPECT_EQ(OverwriteQuestion("a.jpg", "Trip"),
              "There is already a photo with the name \"a.jpg\" in the album Trip.\r\nDo you want to overwrite it?");

    struct {
        const char* format;
        bool ok;
        const char* out;
    } cases[] = {
        {"\"%s\" in %s?", true, "\"a\" in b?"}, {"%1:s <- %0:s", true, "b <- a"}, {"100%% %s", true, "100% a"},
        {"%0:s %s", true, "a b"},               {"%s %s %s", false, ""},        {"%d", false, ""},
        {"%n", false, ""},                      {"%5:s", false, ""},            {"trailing %", false, ""},
        {"%x", false, ""},                      {"plain", true, "plain"},
    };
    for (const auto& c : cases) {
        std::string out = "untouched";
        EXPECT_EQ(FormatStrings(c.format, {"a", "b"}, out), c.ok) << c.format;
        EXPECT_EQ(out, c.ok ? c.out : "untouched") << c.format;
    }
}

TEST_F(Albums, MessageBoxCaptionsIconsButtonsAndAnswers) {
    GlobalStrings.smsgwarning = "Achtung";
    struct {
        TMsgDlgType type;
        TMsgDlgButtons buttons;
        const char* caption;
        unsigned flags;
    } cases[] = {
        {mtWarning, MsgDlgButtons({mbYes, mbNo}), "Achtung", MB_ICONWARNING | MB_YESNO},
        {mtError, mbYesNoCancel, "Error", MB_ICONERROR | MB_YESNOCANCEL},
        {mtInformation, mbOKCancel, "Information", MB_ICONINFORMATION | MB_OKCANCEL},
        {mtConfirmation, MsgDlgButtons({mbRetry, mbCancel}), "Confirmation", MB_ICONQUESTION | MB_RETRYCANCEL},
        {mtCustom, mbAbortRetryIgnore, "", MB_ABORTRETRYIGNORE},
        {mtError, MsgDlgButtons({mbYes, mbNo, mbHelp}), "Error", MB_ICONERROR | MB_OK},
    };
    for (const auto& c : cases) {
        r.boxes.clear();
        LangMessageBox("text", c.type, c.buttons);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0], std::string(c.caption) + "|text|" + std::to_string(c.flags));
    }
    const std::pair<int, int> answers[] = {{IDOK, mrOk},       {IDCANCEL, mrCancel}, {IDABORT, mrAbort},
                                           {IDRETRY, mrRetry}, {IDIGNORE, mrIgnore}, {IDYES, mrYes},
                                           {IDNO, mrNo},       {42, mrCancel}};
    for (const auto& [answer, result] : answers) {
        r.answer = answer;
        EXPECT_EQ(LangMessageBox("t", mtWarning, mbOKCancel), result);
    }
}
