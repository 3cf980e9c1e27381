#include "app/main/projectcommands.h"

#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "app/AppDelegate.h"
#include "app/dialogs/BookViewController.h"
#include "app/dialogs/SourceViewController.h"
#include "app/dialogs/TextWizardViewController.h"
#include "app/notificationnames.h"
#include "app/project/BookSet.h"
#include "app/project/projectpaths.h"
#include "app/window/MainStoryboard.h"
#include "app/window/ViewController.h"
#include "foundation/book/GaijiFonts.h"
#include "foundation/codes/jclib.h"
#include "platform/UIBundle.h"
#include "platform/UISavePanel.h"
#include "platform/UIViewController.h"

const char kProjectCommandsSynopsis[] =
    "       lexforge new [--force] [--output DIR] [--base DIR] [--family EB|EPWING]\n"
    "                    PROJECT.lfx [NAME=VALUE...]\n"
    "       lexforge show PROJECT\n"
    "       lexforge book add PROJECT BOOK-OPTIONS\n"
    "       lexforge book edit PROJECT N BOOK-OPTIONS\n"
    "       lexforge book remove PROJECT N\n"
    "       lexforge book move PROJECT N --to M\n"
    "       lexforge source add PROJECT [--book N] [--type T] [--title TEXT]\n"
    "                    [--fields SPEC] FILE\n"
    "       lexforge source edit PROJECT [--book N] N [--type T] [--title TEXT]\n"
    "                    [--fields SPEC] [FILE]\n"
    "       lexforge source remove PROJECT [--book N] N\n"
    "       lexforge source move PROJECT [--book N] N --to M\n"
    "       lexforge set PROJECT NAME=VALUE...\n"
    "       lexforge get PROJECT [NAME...]\n"
    "       lexforge wizard FILE [--enc E] [--delim D] [--header] [--column N=TYPE]...\n"
    "                    [--source PROJECT [--book N] N]\n";

const char kProjectCommandsHelp[] =
    "  new           start a new project (the New command) and save it as\n"
    "                PROJECT.lfx; an existing file is kept unless --force;\n"
    "                --output, --base and --family set tab 1 at once, and\n"
    "                NAME=VALUE any control of the option tabs\n"
    "  show          what the window shows: the books with their numbers, each\n"
    "                book's fields and sources, and every option-tab value\n"
    "  book          the book list and the book dialog; BOOK-OPTIONS are\n"
    "                --title TEXT, --dir NAME (1 to 8 letters, digits or _),\n"
    "                --type KOKUGO|KANWA|EIWA|WAEI|YOGO|HYAKKA|IPPAN|RUIGO,\n"
    "                --copyright FILE, --complex FILE, --keywords FILE,\n"
    "                --gaiji-map FILE, --gaiji-font FILE, --fonts NAME,NAME,...\n"
    "                (gaiji font file names 8x16,16x16,12x24,24x24,16x30,32x30,\n"
    "                24x48,48x48), --han-start HEX, --zen-start HEX,\n"
    "                --separate on|off; an empty value empties a field; add\n"
    "                prints the new book's number\n"
    "  source        the source list of book N (--book, 1 when not given) and\n"
    "                the source dialog; --type is a code or a name: 0 markup,\n"
    "                1 jepax, 2 pdic-text, 3 eijiro, 4 plain, 5 pdic-line,\n"
    "                6 pdic, 7 html, 9 delimited; --fields gives a delimited\n"
    "                source its field spec through the text field wizard; add\n"
    "                prints the new source's number\n"
    "  move          --to M: the row dragged to place M of its list\n"
    "  set, get      the controls of the option tabs by name (\"lexforge get\n"
    "                PROJECT\" lists them): check boxes on|off, text and number\n"
    "                fields, lists by item (ebType EB|EPWING, srchUnit,\n"
    "                eijiYomi, pdicTitle, pdicPronon, pdicHonbun, pdicYorei)\n"
    "  wizard        the text field wizard on a delimited file: prints the\n"
    "                columns of its first line with a sample of the lines after\n"
    "                it and the field spec it proposes; the answers --enc\n"
    "                utf-8|utf-16|shift_jis, --delim ,|tab|\"|\", --column\n"
    "                N=headword|meaning|keyword|kana|html|id|- (repeated);\n"
    "                --header shows the first line as the columns' names (a\n"
    "                build still reads it as a record);\n"
    "                --source PROJECT N stores the spec in source N of book 1\n"
    "                (or --book), which then reads FILE as delimited text\n"
    "\n"
    "Files named in these commands are stored as \"$(BASE)/...\" when they lie\n"
    "in the base folder (the project's, or the project file's folder when it\n"
    "has none). Every editing command saves through the Save command, which\n"
    "replaces the project file whole; a refusal (an unknown book or source\n"
    "number, a value the window refuses, a missing file) exits 2 with one line\n"
    "naming it and leaves the project file as it was. These commands exit with\n"
    "0 when done, 1 when the project could not be saved, 2 for a usage error\n"
    "or a refusal and 3 when the project cannot be read.\n";

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return path;
    return std::string(cwd) + "/" + path;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

// A refusal or a usage error: the command ends with exit 2 and this line.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---- arguments ----

struct Args {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;  // in order

    bool has(const std::string& name) const {
        for (const auto& o : options)
            if (o.first == name) return true;
        return false;
    }
    // The last value given for name.
    const std::string* value(const std::string& name) const {
        const std::string* v = nullptr;
        for (const auto& o : options)
            if (o.first == name) v = &o.second;
        return v;
    }
};

// withValue: the options that take a value; flags: those that do not.
Args parse(const std::vector<std::string>& args, size_t first, const std::vector<std::string>& withValue,
           const std::vector<std::string>& flags) {
    Args out;
    bool options = true;
    for (size_t i = first; i < args.size(); ++i) {
        std::string a = args[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (!options || a.size() < 3 || a.compare(0, 2, "--") != 0) {
            out.operands.push_back(a);
            continue;
        }
        std::string name = a.substr(2), value;
        size_t eq = name.find('=');
        bool hasValue = eq != std::string::npos;
        if (hasValue) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        bool takes = false, known = false;
        for (const std::string& n : withValue)
            if (n == name) takes = known = true;
        for (const std::string& n : flags)
            if (n == name) known = true;
        if (!known) throw Refusal("unknown option: " + args[i]);
        if (takes && !hasValue) {
            if (i + 1 >= args.size()) throw Refusal("--" + name + " needs a value");
            value = args[++i];
        } else if (!takes && hasValue) {
            throw Refusal("--" + name + " takes no value");
        }
        out.options.emplace_back(name, value);
    }
    return out;
}

// A list position: 1 to the number of rows.
int number(const std::string& text, const char* what) {
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 1 || n > INT_MAX || text[0] == '+' || text[0] == '-')
        throw Refusal(std::string(what) + " \"" + text + "\" is no number from 1 up");
    return static_cast<int>(n);
}

bool sameText(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0 && a.size() == b.size();
}

bool parseOnOff(const std::string& text, bool* on) {
    for (const char* t : {"on", "1", "yes", "true"})
        if (sameText(text, t)) return *on = true;
    for (const char* f : {"off", "0", "no", "false"})
        if (sameText(text, f)) return !(*on = false);
    return false;
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A text as one line of output: line ends and control characters shown.
std::string shown(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\0')
            out += "\\0";
        else
            out.push_back(c);
    }
    return out;
}

// ---- the window ----

// The main window with its delegate, and the modal driver that plays the
// user on each dialog it shows.
class Session {
public:
    Session() {
        registerMainStoryboard();
        // Messages of the window (a project that cannot be read or saved).
        vc.textView.setInsertObserver([](const std::string& text) { fputs(text.c_str(), stderr); });
        vc.loadViewIfNeeded();
        UIViewController::setModalDriver([this](UIViewController* presented) {
            if (auto* d = dynamic_cast<TextWizardViewController*>(presented)) {
                if (onWizard) return onWizard(d);
            } else if (auto* d = dynamic_cast<SourceViewController*>(presented)) {
                if (onSource) return onSource(d);
            } else if (auto* d = dynamic_cast<BookViewController*>(presented)) {
                if (onBook) return onBook(d);
            }
            presented->dismissController();
        });
    }
    ~Session() {
        UIViewController::setModalDriver(nullptr);
        UISavePanel::setAnswerSource(nullptr);
    }

    // Opens the project; false (with the window's message shown) when it
    // cannot be read.
    bool open(const std::string& path) {
        project = absolutePath(path);
        if (!isRegularFile(project)) {
            fprintf(stderr, "lexforge: can't open the project: %s is no file\n", project.c_str());
            return false;
        }
        delegate.applicationOpenFile(nullptr, project);
        return vc.lastOpenSucceeded();
    }
    // For an editing command: the project must be saved back where it is.
    void needsSaveTarget() {
        if (vc.definitionPath.empty())
            throw Refusal(project + " is a key=value project: save it as .lfx first (lexforge save-as)");
    }

    // The folder "$(BASE)" stands for: the base folder of tab 1, or the
    // project file's folder when it has none.
    std::string baseFolder() const {
        const std::string& base = vc.basePath.stringValue();
        return base.empty() ? folderOf(project) : base;
    }
    // A file named on the command line as the window's path fields take it:
    // a file that is not there is refused; one in the base folder is typed
    // in its "$(BASE)" form.
    std::string fileForField(const std::string& path, const std::string& what) const {
        if (path.empty()) return path;
        std::string full = absolutePath(path);
        if (!isRegularFile(full)) throw Refusal(what + ": no file " + full);
        return toRelPath(full, baseFolder());
    }
    std::string realPath(const std::string& stored) const {
        return toAbsPath(stored, baseFolder(), UIBundle::mainBundle().resourcePath());
    }

    void selectBook(int n) {
        int rows = vc.bookTableView.numberOfRows();
        if (n > rows)
            throw Refusal("book " + std::to_string(n) + ": no such book (the project has " + std::to_string(rows) +
                          ")");
        vc.bookTableView.selectRow(n - 1);
    }
    void selectSource(int book, int n) {
        selectBook(book);
        int rows = vc.sourceTableView.numberOfRows();
        if (n > rows)
            throw Refusal("source " + std::to_string(n) + " of book " + std::to_string(book) +
                          ": no such source (the book has " + std::to_string(rows) + ")");
        vc.sourceTableView.selectRow(n - 1);
    }

    // The Save command; false when the file could not be written.
    int save() {
        vc.makeFirstResponder(nullptr);
        delegate.saveDocument();
        return finishSave();
    }
    int saveAs(const std::string& path) {
        const std::string target = absolutePath(path);
        UISavePanel::setAnswerSource([target](const UISavePanel&, std::string* answer) {
            *answer = target;
            return true;
        });
        vc.makeFirstResponder(nullptr);
        delegate.saveDocumentAs();
        return finishSave();
    }

    // The option control named name, or null.
    const ViewController::OptionControl* control(const std::string& name) {
        if (controls.empty()) controls = vc.optionControls();
        for (const auto& c : controls)
            if (name == c.name) return &c;
        return nullptr;
    }
    const std::vector<ViewController::OptionControl>& allControls() {
        if (controls.empty()) controls = vc.optionControls();
        return controls;
    }

    AppDelegate delegate;
    ViewController vc;
    std::string project;
    std::function<void(BookViewController*)> onBook;
    std::function<void(SourceViewController*)> onSource;
    std::function<void(TextWizardViewController*)> onWizard;

private:
    int finishSave() {
        UISavePanel::setAnswerSource(nullptr);
        // A control the window moved the focus to holds a value it refused.
        if (const void* focus = vc.firstResponder()) {
            for (const auto& c : allControls())
                if (focus == c.field || focus == c.box || focus == c.combo || focus == c.matrix)
                    throw Refusal(std::string("the option tab refused ") + c.name);
        }
        return vc.lastSaveSucceeded() ? 0 : 1;
    }
    std::vector<ViewController::OptionControl> controls;
};

// ---- option controls ----

std::string controlValue(const ViewController::OptionControl& c) {
    if (c.box) return c.box->state() == UIStateOn ? "on" : "off";
    if (c.field) return c.field->stringValue();
    if (c.combo) return c.combo->stringValue();
    for (const auto& cell : c.matrix->cells())
        if (cell.tag == c.matrix->selectedTag()) return cell.title.empty() ? std::to_string(cell.tag) : cell.title;
    return std::string();
}

std::string choices(const ViewController::OptionControl& c) {
    std::string list;
    if (c.combo)
        for (int i = 0; i < c.combo->numberOfItems(); ++i) list += (list.empty() ? "" : ", ") + c.combo->itemAt(i);
    if (c.matrix)
        for (const auto& cell : c.matrix->cells())
            list += (list.empty() ? "" : ", ") + (cell.title.empty() ? std::to_string(cell.tag) : cell.title);
    return list;
}

// NAME=VALUE typed into its control, on its tab.
void setControl(Session& s, const std::string& assignment) {
    size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) throw Refusal("\"" + assignment + "\" is not NAME=VALUE");
    const std::string name = assignment.substr(0, eq), value = assignment.substr(eq + 1);
    const ViewController::OptionControl* c = s.control(name);
    if (c == nullptr) throw Refusal(name + ": no such option (lexforge get PROJECT lists them)");
    s.vc.tabView.selectTabItemWithIdentifier(std::to_string(c->tab));
    if (c->box) {
        bool on = false;
        if (!parseOnOff(value, &on)) throw Refusal(name + "=" + value + ": on or off");
        c->box->setState(on ? UIStateOn : UIStateOff);
    } else if (c->field) {
        if (c->number) {
            char* end = nullptr;
            errno = 0;
            long long n = std::strtoll(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || n < INT32_MIN || n > UINT32_MAX)
                throw Refusal(name + "=" + value + ": not an integer");
        }
        c->field->setStringValue(value);
    } else if (c->combo) {
        int index = -1;
        for (int i = 0; i < c->combo->numberOfItems(); ++i)
            if (sameText(c->combo->itemAt(i), value)) index = i;
        if (index < 0) throw Refusal(name + "=" + value + ": one of " + choices(*c));
        c->combo->selectItemAtIndex(index);
    } else {
        bool found = false;
        for (const auto& cell : c->matrix->cells())
            if ((!cell.title.empty() && sameText(cell.title, value)) || std::to_string(cell.tag) == value)
                found = c->matrix->selectCellWithTag(cell.tag);
        if (!found) throw Refusal(name + "=" + value + ": one of " + choices(*c));
    }
}

void printControls(Session& s, const std::vector<std::string>& names) {
    if (names.empty()) {
        for (const auto& c : s.allControls()) printf("%s=%s\n", c.name, shown(controlValue(c)).c_str());
        return;
    }
    for (const std::string& name : names)
        if (s.control(name) == nullptr) throw Refusal(name + ": no such option (lexforge get PROJECT lists them)");
    for (const std::string& name : names) printf("%s=%s\n", name.c_str(), shown(controlValue(*s.control(name))).c_str());
}

// ---- the book dialog ----

const char* const kSlotNames[FONT_SLOTS] = {"8x16", "16x16", "12x24", "24x24", "16x30", "32x30", "24x48", "48x48"};
const char* const kKindNames[] = {"KOKUGO", "KANWA", "EIWA", "WAEI", "YOGO", "HYAKKA", "IPPAN", "RUIGO"};

struct BookField {
    const char* option;
    UITextField BookViewController::*field;
    bool isFile;
};
const BookField kBookFields[] = {
    {"title", &BookViewController::bookTitle, false},      {"dir", &BookViewController::dirName, false},
    {"copyright", &BookViewController::copyright, true},   {"complex", &BookViewController::complexindex, true},
    {"keywords", &BookViewController::keywordFile, true},  {"gaiji-map", &BookViewController::gaijiMap, true},
    {"gaiji-font", &BookViewController::gaijiFont, true},  {"han-start", &BookViewController::hanStart, false},
    {"zen-start", &BookViewController::zenStart, false},
};
const std::vector<std::string> kBookOptions = {"title",      "dir",      "type",      "copyright", "complex",
                                               "keywords",   "gaiji-map", "gaiji-font", "fonts",    "han-start",
                                               "zen-start",  "separate"};

int kindIndex(const std::string& text) {
    for (int i = 0; i < 8; ++i)
        if (sameText(text, kKindNames[i])) return i;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 0);
    if (!text.empty() && *end == '\0' && v >= 0 && v <= 0x70 && v % 16 == 0) return static_cast<int>(v / 16);
    return -1;
}

std::vector<std::string> splitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Plays the user on the book dialog: the options typed into its fields,
// then OK. The dialog's refusal comes back as a Refusal.
void playBookDialog(Session& s, const Args& a, bool adding) {
    // What is typed, checked before the dialog opens.
    std::vector<std::pair<UITextField BookViewController::*, std::string>> typed;
    for (const BookField& f : kBookFields)
        if (const std::string* v = a.value(f.option))
            typed.emplace_back(f.field, f.isFile ? s.fileForField(*v, std::string("--") + f.option) : *v);
    int kind = -1;
    if (const std::string* v = a.value("type")) {
        kind = kindIndex(*v);
        if (kind < 0) throw Refusal("--type " + *v + ": one of KOKUGO, KANWA, EIWA, WAEI, YOGO, HYAKKA, IPPAN, RUIGO");
    }
    std::vector<std::string> fonts;
    if (const std::string* v = a.value("fonts")) {
        fonts = splitList(*v, ',');
        if (fonts.size() > FONT_SLOTS) throw Refusal("--fonts: at most 8 names");
    }
    bool separate = false;
    const std::string* sep = a.value("separate");
    if (sep && !parseOnOff(*sep, &separate)) throw Refusal("--separate " + *sep + ": on or off");

    bool shown = false;
    std::string refused;
    s.onBook = [&](BookViewController* d) {
        shown = true;
        for (const auto& t : typed) (d->*t.first).setStringValue(t.second);
        if (kind >= 0) d->kindOfBook.selectItemAtIndex(kind);
        for (size_t slot = 0; slot < fonts.size(); ++slot)
            d->fontField(static_cast<int>(slot))->setStringValue(fonts[slot]);
        if (sep) d->separateHonmon.setState(separate ? UIStateOn : UIStateOff);
        d->OnOK();
        if (!d->isPresented()) return;
        std::string field = "a field";
        for (const BookField& f : kBookFields)
            if (d->firstResponder() == &(d->*f.field)) field = std::string("--") + f.option;
        for (int slot = 0; slot < FONT_SLOTS; ++slot)
            if (d->firstResponder() == d->fontField(slot))
                field = "--fonts (the " + std::string(kSlotNames[slot]) + " name)";
        refused = "the book dialog refused " + field + ": " + d->refusal();
        d->OnCancel();
    };
    if (adding)
        s.delegate.AddBook();
    else
        s.delegate.EditBook();
    s.onBook = nullptr;
    if (!shown) throw Refusal("the book dialog did not open");
    if (!refused.empty()) throw Refusal(refused);
}

// ---- the source dialog and the text field wizard ----

const struct {
    const char* name;
    int code;
} kSourceTypes[] = {{"markup", 0}, {"jepax", 1},    {"pdic-text", 2}, {"eijiro", 3},    {"plain", 4},
                    {"pdic-line", 5}, {"pdic", 6},  {"html", 7},      {"delimited", 9}};
const int kDelimited = 9;

const char* sourceTypeName(int code) {
    for (const auto& t : kSourceTypes)
        if (t.code == code) return t.name;
    return "?";
}

// The wizard's answers: each applied as the user chooses it in the window.
struct WizardAnswers {
    int encoding = -1, delimiter = -1;  // items; -1 keeps the wizard's
    std::vector<std::pair<int, int>> columns;  // column (1 up), type item
    bool header = false;
    bool print = false;
    std::string file;  // for the sample and the messages
};

const char* const kEncodings[] = {"utf-8", "utf-16", "shift_jis"};
const char* const kTypeTokens[] = {"-", "headword", "meaning", "keyword", "kana", "html", "id"};

int encodingItem(const std::string& text) {
    for (int i = 0; i < 3; ++i)
        if (sameText(text, kEncodings[i])) return i;
    if (sameText(text, "utf8")) return 0;
    if (sameText(text, "utf16")) return 1;
    if (sameText(text, "sjis") || sameText(text, "shift-jis")) return 2;
    return -1;
}
int delimiterItem(const std::string& text) {
    if (text == ",") return 0;
    if (text == "\t" || sameText(text, "tab")) return 1;
    if (text == "|") return 2;
    return -1;
}
int typeItem(const std::string& text) {
    if (text.empty() || sameText(text, "none")) return 0;
    for (int i = 0; i < 7; ++i)
        if (sameText(text, kTypeTokens[i])) return i;
    if (sameText(text, "reading(kana)") || sameText(text, "reading")) return 4;
    return -1;
}

void addColumn(WizardAnswers* w, const std::string& number, const std::string& type, const std::string& what) {
    int item = typeItem(type);
    if (item < 0) throw Refusal(what + ": type \"" + type + "\" is none of headword, meaning, keyword, kana, html, id, -");
    w->columns.emplace_back(::number(number, "column"), item);
}

// A field spec as the wizard's answers (every column it names).
WizardAnswers specAnswers(const std::string& spec) {
    WizardAnswers w;
    bool fields = false;
    for (const std::string& piece : splitList(spec, ';')) {
        size_t eq = piece.find('=');
        std::string key = piece.substr(0, eq), value = eq == std::string::npos ? "" : piece.substr(eq + 1);
        if (key == "enc" && (w.encoding = encodingItem(value)) >= 0) continue;
        if (key == "delim" && (w.delimiter = delimiterItem(value)) >= 0) continue;
        if (key == "fields" && eq != std::string::npos) {
            std::vector<std::string> types = splitList(value, '|');
            if (!types.empty() && types.back().empty()) types.pop_back();
            for (size_t i = 0; i < types.size(); ++i) addColumn(&w, std::to_string(i + 1), types[i], "--fields");
            fields = true;
            continue;
        }
        throw Refusal("--fields: \"" + piece + "\" is no part of a field spec (enc=, delim=, fields=)");
    }
    if (!fields) throw Refusal("--fields: the spec has no fields= part");
    return w;
}

std::string lineText(const std::string& text) {
    std::string t = text;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
    return t;
}

// The lines after the first of a UTF-8 or Shift_JIS file, split by the
// delimiter, for the sample (at most count lines).
std::vector<std::vector<std::string>> sampleLines(const std::string& path, int encoding, const std::string& delim,
                                                  size_t count) {
    std::vector<std::vector<std::string>> rows;
    if (encoding == 1) return rows;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return rows;
    std::string line;
    size_t lines = 0;
    auto take = [&] {
        if (lines++ == 0) return;
        std::string text = lineText(line);
        if (encoding == 2) {
            std::vector<char> out(text.size() * 3 + 1);
            int n = ::sjisToUtf8(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()),
                                 out.data(), out.size());
            text.assign(out.data(), static_cast<size_t>(n));
        }
        rows.push_back(delim.empty() ? std::vector<std::string>{text} : splitList(text, delim[0]));
    };
    int c = 0;
    while (rows.size() < count && (c = std::fgetc(f)) != EOF) {
        if (c != '\n') {
            if (line.size() < 4096) line.push_back(static_cast<char>(c));
            continue;
        }
        take();
        line.clear();
    }
    if (c == EOF && !line.empty() && rows.size() < count) take();  // a last line without its end
    std::fclose(f);
    return rows;
}

void printWizard(TextWizardViewController* w, const WizardAnswers& answers) {
    int enc = w->encoding.indexOfSelectedItem(), delim = w->delimiter.indexOfSelectedItem();
    const std::string delimText = w->delimStr[static_cast<size_t>(delim < 0 ? 0 : delim)];
    printf("%s: %s, delimiter %s, %d columns\n", answers.file.c_str(), kEncodings[enc < 0 ? 0 : enc],
           delimText == "\t" ? "TAB" : ("\"" + delimText + "\"").c_str(), w->fieldList.numberOfRows());
    auto sample = sampleLines(answers.file, enc, delimText, 3);
    printf("column  type      %-16s %s\n", answers.header ? "name" : "first line", "next lines");
    for (int row = 0; row < w->fieldList.numberOfRows(); ++row) {
        std::string type = w->fieldList.cellText("type", row);
        std::string values;
        for (const auto& line : sample)
            values += (values.empty() ? "" : " | ") +
                      (static_cast<size_t>(row) < line.size() ? shown(line[static_cast<size_t>(row)]) : "");
        printf("%-7d %-9s %-16s %s\n", row + 1, type.empty() ? "-" : type.c_str(),
               shown(lineText(w->fieldList.cellText("name", row))).c_str(), values.c_str());
    }
    if (w->fieldList.numberOfRows() == 0)
        printf("(no columns: the first line is no %s text; answer --enc and --delim)\n", kEncodings[enc < 0 ? 0 : enc]);
}

// Plays the user on the wizard: the answers, Reload when the encoding or the
// delimiter changed, the types column by column, then OK.
void playWizard(TextWizardViewController* w, const WizardAnswers& answers, std::string* refused) {
    if (answers.encoding >= 0) w->encoding.selectItemAtIndex(answers.encoding);
    if (answers.delimiter >= 0) w->delimiter.selectItemAtIndex(answers.delimiter);
    if (answers.encoding >= 0 || answers.delimiter >= 0) w->OnReload();
    for (const auto& c : answers.columns) {
        if (c.first > w->fieldList.numberOfRows()) {
            if (c.second == 0) continue;  // a column not used needs no row
            *refused = "column " + std::to_string(c.first) + ": the first line of " + answers.file + " has " +
                       std::to_string(w->fieldList.numberOfRows()) + " columns";
            w->OnCancel();
            return;
        }
        w->fieldList.selectRow(c.first - 1);
        w->type.selectItemAtIndex(c.second);
    }
    if (answers.print) printWizard(w, answers);
    w->OnOK();
}

struct SourceEdit {
    std::string path;      // typed into the path field (stored form); empty keeps it
    std::string realPath;  // the file the wizard reads
    const std::string* title = nullptr;
    int type = -1;
    bool wizard = false;
    WizardAnswers answers;
};

void playSourceDialog(Session& s, const SourceEdit& e, bool adding) {
    bool shown = false;
    std::string refused;
    WizardAnswers answers = e.answers;
    s.onWizard = [&](TextWizardViewController* w) { playWizard(w, answers, &refused); };
    s.onSource = [&](SourceViewController* d) {
        shown = true;
        if (e.type >= 0 && !d->sourceType.selectCellWithTag(e.type)) {
            refused = "the source dialog has no type " + std::to_string(e.type);
        } else {
            if (e.title) d->sourceTitle.setStringValue(*e.title);
            if (e.wizard && d->sourceType.selectedTag() != kDelimited) {
                refused = "the text field wizard is for delimited text (--type 9)";
            } else if (e.wizard) {
                // The wizard reads the file it is pointed at; the field then
                // takes the path in the form the project keeps.
                const std::string stored = e.path.empty() ? d->sourcePath.stringValue() : e.path;
                answers.file = e.realPath.empty() ? s.realPath(stored) : e.realPath;
                d->sourcePath.setStringValue(answers.file);
                d->OnTextWizard();
                d->sourcePath.setStringValue(stored);
            } else if (!e.path.empty()) {
                d->sourcePath.setStringValue(e.path);
            }
        }
        if (refused.empty()) {
            d->OnOK();
            if (d->isPresented()) refused = "the source dialog refused the file: empty";
        }
        if (d->isPresented()) d->OnCancel();
    };
    if (adding)
        s.delegate.AddSource();
    else
        s.delegate.EditSource();
    s.onSource = nullptr;
    s.onWizard = nullptr;
    if (!shown) throw Refusal("the source dialog did not open");
    if (!refused.empty()) throw Refusal(refused);
}

int sourceTypeCode(const std::string& text) {
    for (const auto& t : kSourceTypes)
        if (sameText(text, t.name) || text == std::to_string(t.code)) return t.code;
    if (sameText(text, "csv")) return kDelimited;
    throw Refusal("--type " + text +
                  ": one of 0 markup, 1 jepax, 2 pdic-text, 3 eijiro, 4 plain, 5 pdic-line, 6 pdic, 7 html, "
                  "9 delimited");
}

// ---- the commands ----

int openOrFail(Session& s, const std::string& project) {
    return s.open(project) ? 0 : 3;
}

void needOperands(const Args& a, size_t least, size_t most, const char* usage) {
    if (a.operands.size() < least || a.operands.size() > most) throw Refusal(std::string("usage: lexforge ") + usage);
}

int cmdNew(const std::vector<std::string>& args) {
    Args a = parse(args, 1, {"output", "base", "family"}, {"force"});
    needOperands(a, 1, SIZE_MAX, "new [--force] [--output DIR] [--base DIR] [--family EB|EPWING] PROJECT.lfx [NAME=VALUE...]");
    const std::string path = absolutePath(a.operands[0]);
    struct stat st;
    if (!a.has("force") && ::lstat(path.c_str(), &st) == 0) throw Refusal(path + " exists (give --force to replace it)");
    Session s;
    s.project = path;
    s.delegate.newDocument();
    std::vector<std::string> assignments;
    if (const std::string* v = a.value("base")) assignments.push_back("basePath=" + (v->empty() ? *v : absolutePath(*v)));
    if (const std::string* v = a.value("output")) assignments.push_back("outputPath=" + *v);
    if (const std::string* v = a.value("family")) assignments.push_back("ebType=" + *v);
    assignments.insert(assignments.end(), a.operands.begin() + 1, a.operands.end());
    for (const std::string& as : assignments) setControl(s, as);
    return s.saveAs(path);
}

int cmdShow(const std::vector<std::string>& args) {
    Args a = parse(args, 1, {}, {});
    needOperands(a, 1, 1, "show PROJECT");
    Session s;
    if (int rc = openOrFail(s, a.operands[0])) return rc;
    printf("project %s\n", s.project.c_str());
    const int books = s.vc.bookTableView.numberOfRows();
    printf("%d book%s\n", books, books == 1 ? "" : "s");
    for (int b = 1; b <= books; ++b) {
        s.selectBook(b);
        s.onBook = [&](BookViewController* d) {
            printf("book %d: %s\n", b, d->bookTitle.stringValue().c_str());
            int kind = d->kindOfBook.indexOfSelectedItem();
            printf("  dir=%s type=%s han-start=%s zen-start=%s separate=%s\n", d->dirName.stringValue().c_str(),
                   kind >= 0 ? kKindNames[kind] : "(none)", d->hanStart.stringValue().c_str(),
                   d->zenStart.stringValue().c_str(), d->separateHonmon.state() == UIStateOn ? "on" : "off");
            for (const BookField& f : kBookFields)
                if (f.isFile && !(d->*f.field).stringValue().empty())
                    printf("  %s=%s\n", f.option, (d->*f.field).stringValue().c_str());
            std::string fonts;
            for (int slot = 0; slot < FONT_SLOTS; ++slot)
                fonts += (slot ? "," : "") + d->fontField(slot)->stringValue();
            while (!fonts.empty() && fonts.back() == ',') fonts.pop_back();
            printf("  fonts=%s\n", fonts.c_str());
            d->OnCancel();
        };
        s.delegate.EditBook();
        s.onBook = nullptr;
        const int sources = s.vc.sourceTableView.numberOfRows();
        for (int n = 1; n <= sources; ++n) {
            s.vc.sourceTableView.selectRow(n - 1);
            s.onSource = [&](SourceViewController* d) {
                int type = d->sourceType.selectedTag();
                printf("  source %d: %s\n    type=%d %s title=%s\n", n, d->sourcePath.stringValue().c_str(), type,
                       sourceTypeName(type), d->sourceTitle.stringValue().c_str());
                if (type == kDelimited) printf("    fields=%s\n", shown(BookSet::sharedBookSet()->csvFields()).c_str());
                d->OnCancel();
            };
            s.delegate.EditSource();
            s.onSource = nullptr;
        }
    }
    for (int tab = 1; tab <= 3; ++tab) {
        printf("tab %d:", tab);
        for (const auto& c : s.allControls())
            if (c.tab == tab) printf(" %s=%s", c.name, shown(controlValue(c)).c_str());
        printf("\n");
    }
    return 0;
}

int cmdBook(const std::vector<std::string>& args) {
    if (args.size() < 2) throw Refusal("usage: lexforge book add|edit|remove|move PROJECT ...");
    const std::string& verb = args[1];
    Args a;
    if (verb == "add" || verb == "edit")
        a = parse(args, 2, kBookOptions, {});
    else if (verb == "remove" || verb == "move")
        a = parse(args, 2, verb == "move" ? std::vector<std::string>{"to"} : std::vector<std::string>{}, {});
    else
        throw Refusal("unknown command: book " + verb);
    needOperands(a, verb == "add" ? 1 : 2, verb == "add" ? 1 : 2,
                 verb == "add" ? "book add PROJECT BOOK-OPTIONS" : ("book " + verb + " PROJECT N").c_str());
    int n = verb == "add" ? 0 : number(a.operands[1], "book");
    int to = 0;
    if (verb == "move") {
        if (!a.has("to")) throw Refusal("book move needs --to M");
        to = number(*a.value("to"), "--to");
    }
    Session s;
    if (int rc = openOrFail(s, a.operands[0])) return rc;
    s.needsSaveTarget();
    if (verb == "add") {
        playBookDialog(s, a, true);
        printf("book %d\n", s.vc.bookTableView.numberOfRows());
    } else {
        s.selectBook(n);
        if (verb == "edit") {
            playBookDialog(s, a, false);
        } else if (verb == "remove") {
            s.delegate.DeleteBook();
        } else {
            if (to > s.vc.bookTableView.numberOfRows()) throw Refusal("--to " + std::to_string(to) + ": no such place");
            s.vc.moveRow(&s.vc.bookTableView, n - 1, to - 1);
        }
    }
    return s.save();
}

int cmdSource(const std::vector<std::string>& args) {
    if (args.size() < 2) throw Refusal("usage: lexforge source add|edit|remove|move PROJECT ...");
    const std::string& verb = args[1];
    Args a;
    if (verb == "add" || verb == "edit")
        a = parse(args, 2, {"book", "type", "title", "fields"}, {});
    else if (verb == "remove" || verb == "move")
        a = parse(args, 2, verb == "move" ? std::vector<std::string>{"book", "to"} : std::vector<std::string>{"book"},
                  {});
    else
        throw Refusal("unknown command: source " + verb);
    if (verb == "add") needOperands(a, 2, 2, "source add PROJECT [--book N] [--type T] [--title TEXT] [--fields SPEC] FILE");
    if (verb == "edit") needOperands(a, 2, 3, "source edit PROJECT [--book N] N [--type T] [--title TEXT] [--fields SPEC] [FILE]");
    if (verb == "remove" || verb == "move") needOperands(a, 2, 2, ("source " + verb + " PROJECT [--book N] N").c_str());
    const int book = a.has("book") ? number(*a.value("book"), "--book") : 1;
    const int n = verb == "add" ? 0 : number(a.operands[1], "source");
    int to = 0;
    if (verb == "move") {
        if (!a.has("to")) throw Refusal("source move needs --to M");
        to = number(*a.value("to"), "--to");
    }
    SourceEdit e;
    if (const std::string* t = a.value("type")) e.type = sourceTypeCode(*t);
    e.title = a.value("title");
    if (const std::string* spec = a.value("fields")) {
        e.answers = specAnswers(*spec);
        e.wizard = true;
    }
    Session s;
    if (int rc = openOrFail(s, a.operands[0])) return rc;
    s.needsSaveTarget();
    if (verb == "add" || verb == "edit") {
        const std::string* file = verb == "add" ? &a.operands[1] : a.operands.size() > 2 ? &a.operands[2] : nullptr;
        if (file) e.path = s.fileForField(*file, "FILE");
        if (verb == "add") {
            s.selectBook(book);
        } else {
            s.selectSource(book, n);
        }
        playSourceDialog(s, e, verb == "add");
        if (verb == "add") printf("source %d of book %d\n", s.vc.sourceTableView.numberOfRows(), book);
    } else {
        s.selectSource(book, n);
        if (verb == "remove") {
            s.delegate.DeleteSource();
        } else {
            if (to > s.vc.sourceTableView.numberOfRows()) throw Refusal("--to " + std::to_string(to) + ": no such place");
            s.vc.moveRow(&s.vc.sourceTableView, n - 1, to - 1);
        }
    }
    return s.save();
}

int cmdSet(const std::vector<std::string>& args) {
    Args a = parse(args, 1, {}, {});
    needOperands(a, 2, SIZE_MAX, "set PROJECT NAME=VALUE...");
    Session s;
    if (int rc = openOrFail(s, a.operands[0])) return rc;
    s.needsSaveTarget();
    for (size_t i = 1; i < a.operands.size(); ++i) setControl(s, a.operands[i]);
    return s.save();
}

int cmdGet(const std::vector<std::string>& args) {
    Args a = parse(args, 1, {}, {});
    needOperands(a, 1, SIZE_MAX, "get PROJECT [NAME...]");
    Session s;
    if (int rc = openOrFail(s, a.operands[0])) return rc;
    printControls(s, std::vector<std::string>(a.operands.begin() + 1, a.operands.end()));
    return 0;
}

int cmdWizard(const std::vector<std::string>& args) {
    Args a = parse(args, 1, {"enc", "delim", "column", "source", "book"}, {"header"});
    const bool storing = a.has("source");
    needOperands(a, storing ? 2 : 1, storing ? 2 : 1, "wizard FILE [--enc E] [--delim D] [--header] [--column N=TYPE]... [--source PROJECT [--book N] N]");
    if (a.has("book") && !storing) throw Refusal("--book goes with --source");
    WizardAnswers w;
    w.print = true;
    w.header = a.has("header");
    if (const std::string* v = a.value("enc"))
        if ((w.encoding = encodingItem(*v)) < 0) throw Refusal("--enc " + *v + ": one of utf-8, utf-16, shift_jis");
    if (const std::string* v = a.value("delim"))
        if ((w.delimiter = delimiterItem(*v)) < 0) throw Refusal("--delim " + *v + ": one of \",\", tab, \"|\"");
    for (const auto& o : a.options) {
        if (o.first != "column") continue;
        size_t eq = o.second.find('=');
        if (eq == std::string::npos) throw Refusal("--column " + o.second + ": N=TYPE");
        addColumn(&w, o.second.substr(0, eq), o.second.substr(eq + 1), "--column " + o.second);
    }
    const std::string file = absolutePath(a.operands[0]);
    if (!isRegularFile(file)) throw Refusal("FILE: no file " + file);
    w.file = file;
    Session s;
    if (!storing) {
        // The wizard of a source dialog that is then cancelled.
        std::string refused;
        s.onWizard = [&](TextWizardViewController* wizard) { playWizard(wizard, w, &refused); };
        auto controller = UIStoryboard(kMainStoryboard).instantiateControllerWithIdentifier(kSourceWindowController);
        auto* dialog = dynamic_cast<SourceViewController*>(controller->contentViewController());
        s.onSource = [&](SourceViewController* d) {
            d->sourcePath.setStringValue(file);
            d->sourceType.selectCellWithTag(kDelimited);
            d->OnTextWizard();
            if (refused.empty()) printf("spec: %s\n", shown(BookSet::sharedBookSet()->csvFields()).c_str());
            d->OnCancel();
        };
        s.vc.presentViewControllerAsModalWindow(dialog);
        if (!refused.empty()) throw Refusal(refused);
        return 0;
    }
    const int book = a.has("book") ? number(*a.value("book"), "--book") : 1;
    const int n = number(a.operands[1], "source");
    if (int rc = openOrFail(s, *a.value("source"))) return rc;
    s.needsSaveTarget();
    s.selectSource(book, n);
    SourceEdit e;
    e.path = s.fileForField(file, "FILE");
    e.realPath = file;
    e.type = kDelimited;
    e.wizard = true;
    e.answers = w;
    playSourceDialog(s, e, false);
    printf("spec: %s\n", shown(BookSet::sharedBookSet()->csvFields()).c_str());
    return s.save();
}

}  // namespace

bool isProjectCommand(const std::string& command) {
    for (const char* c : {"new", "show", "book", "source", "set", "get", "wizard"})
        if (command == c) return true;
    return false;
}

int runProjectCommand(const std::vector<std::string>& args) {
    static const std::map<std::string, int (*)(const std::vector<std::string>&)> commands = {
        {"new", cmdNew}, {"show", cmdShow}, {"book", cmdBook},     {"source", cmdSource},
        {"set", cmdSet}, {"get", cmdGet},   {"wizard", cmdWizard},
    };
    try {
        auto it = commands.find(args.at(0));
        if (it == commands.end()) throw Refusal("unknown command: " + args[0]);
        int rc = it->second(args);
        fflush(stdout);
        return rc;
    } catch (const Refusal& r) {
        fflush(stdout);
        fprintf(stderr, "lexforge: %s\n", r.what());
        return 2;
    }
}
