#include "bookreader/search/Stemmer.h"

#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Irregular verb forms {inflected, base}, in ascending order of the
// inflected form.
struct IrregularForm {
    const char* inflected;
    const char* base;
};

const IrregularForm kIrregular[] = {
    {"ate", "eat"},          {"beaten", "beat"},      {"became", "become"},
    {"been", "be"},          {"began", "begin"},      {"begun", "begin"},
    {"bent", "bend"},        {"bit", "bite"},         {"bitten", "bite"},
    {"blew", "blow"},        {"blown", "blow"},       {"bought", "buy"},
    {"broke", "break"},      {"broken", "break"},     {"brought", "bring"},
    {"built", "build"},      {"came", "come"},        {"caught", "catch"},
    {"chose", "choose"},     {"chosen", "choose"},    {"crept", "creep"},
    {"dealt", "deal"},       {"did", "do"},           {"done", "do"},
    {"drank", "drink"},      {"drawn", "draw"},       {"drew", "draw"},
    {"driven", "drive"},     {"drove", "drive"},      {"drunk", "drink"},
    {"dug", "dig"},          {"eaten", "eat"},        {"fallen", "fall"},
    {"fed", "feed"},         {"fell", "fall"},        {"felt", "feel"},
    {"fled", "flee"},        {"flew", "fly"},         {"flown", "fly"},
    {"forbade", "forbid"},   {"forbidden", "forbid"}, {"forgave", "forgive"},
    {"forgiven", "forgive"}, {"forgot", "forget"},    {"forgotten", "forget"},
    {"fought", "fight"},     {"found", "find"},       {"froze", "freeze"},
    {"frozen", "freeze"},    {"gave", "give"},        {"given", "give"},
    {"gone", "go"},          {"got", "get"},          {"grew", "grow"},
    {"grown", "grow"},       {"heard", "hear"},       {"held", "hold"},
    {"hid", "hide"},         {"hidden", "hide"},      {"hung", "hang"},
    {"kept", "keep"},        {"knelt", "kneel"},      {"knew", "know"},
    {"known", "know"},       {"laid", "lay"},         {"lain", "lie"},
    {"lay", "lie"},          {"led", "lead"},         {"left", "leave"},
    {"lent", "lend"},        {"lit", "light"},        {"lost", "lose"},
    {"made", "make"},        {"met", "meet"},         {"paid", "pay"},
    {"ran", "run"},          {"rang", "ring"},        {"ridden", "ride"},
    {"risen", "rise"},       {"rode", "ride"},        {"rose", "rise"},
    {"rung", "ring"},        {"said", "say"},         {"sang", "sing"},
    {"sank", "sink"},        {"sat", "sit"},          {"saw", "see"},
    {"seen", "see"},         {"sent", "send"},        {"sewd", "sew"},
    {"sewn", "sew"},         {"shaken", "shake"},     {"shone", "shine"},
    {"shook", "shake"},      {"shot", "shoot"},       {"showed", "show"},
    {"shown", "show"},       {"shrank", "shrink"},    {"shrunk", "shrink"},
    {"slept", "sleep"},      {"slid", "slide"},       {"sold", "sell"},
    {"sought", "seek"},      {"spat", "spit"},        {"spent", "spend"},
    {"spoke", "speak"},      {"spoken", "speak"},     {"sprang", "spring"},
    {"sprung", "spring"},    {"stank", "stink"},      {"stole", "steal"},
    {"stolen", "steal"},     {"stood", "stand"},      {"struck", "strike"},
    {"stuck", "stick"},      {"stung", "sting"},      {"stunk", "stink"},
    {"sung", "sing"},        {"sunk", "sink"},        {"swam", "swim"},
    {"swang", "swing"},      {"swept", "sweep"},      {"swore", "swear"},
    {"sworn", "swear"},      {"swum", "swim"},        {"taken", "take"},
    {"taught", "teach"},     {"thought", "think"},    {"threw", "throw"},
    {"thrown", "throw"},     {"told", "tell"},        {"took", "take"},
    {"tore", "tear"},        {"torn", "tear"},        {"understood", "understand"},
    {"was", "be"},           {"went", "go"},          {"wept", "weep"},
    {"were", "be"},          {"woke", "wake"},        {"woken", "wake"},
    {"won", "win"},          {"wore", "wear"},        {"worn", "wear"},
    {"written", "write"},    {"wrote", "write"},
};

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The Porter stemmer over b[k0..k]; j marks the end of the stem before a
// suffix found by ends().
class PorterStemmer {
public:
    PorterStemmer(char* b, int k0, int k) : m_b(b), m_k0(k0), m_k(k), m_j(k) {}

    int run() {
        if (m_k <= m_k0 + 1) return m_k;
        step1ab();
        if (m_k > m_k0) {
            step1c();
            step2();
            step3();
            step4();
            step5();
        }
        return m_k;
    }

private:
    // b[i] is a consonant: not a vowel, and a "y" only at the start or
    // after a vowel. The answers for b[k0..] are kept as they are worked
    // out, each from the one before, so that a run of "y" costs no more
    // than other letters; a change of letters drops those from it on.
    bool cons(int i) const {
        const size_t at = static_cast<size_t>(i - m_k0);
        if (at >= m_consonant.size()) m_consonant.resize(at + 1);
        for (; m_known <= at; ++m_known) {
            bool c = true;
            switch (m_b[m_k0 + static_cast<int>(m_known)]) {
                case 'a':
                case 'e':
                case 'i':
                case 'o':
                case 'u':
                    c = false;
                    break;
                case 'y':
                    c = m_known == 0 || !m_consonant[m_known - 1];
                    break;
                default:
                    break;
            }
            m_consonant[m_known] = c;
        }
        return m_consonant[at] != 0;
    }

    void lettersChangedFrom(int i) {
        const size_t at = static_cast<size_t>(i > m_k0 ? i - m_k0 : 0);
        if (at < m_known) m_known = at;
    }

    // The number of vowel-consonant sequences in b[k0..j].
    int measure() const {
        int n = 0;
        int i = m_k0;
        for (;; ++i) {
            if (i > m_j) return n;
            if (!cons(i)) break;
        }
        ++i;
        for (;;) {
            for (;; ++i) {
                if (i > m_j) return n;
                if (cons(i)) break;
            }
            ++i;
            ++n;
            for (;; ++i) {
                if (i > m_j) return n;
                if (!cons(i)) break;
            }
            ++i;
        }
    }

    bool vowelInStem() const {
        for (int i = m_k0; i <= m_j; ++i)
            if (!cons(i)) return true;
        return false;
    }

    bool doubleConsonant(int j) const { return j >= m_k0 + 1 && m_b[j] == m_b[j - 1] && cons(j); }

    // Consonant-vowel-consonant ending at i, the last consonant not w, x, y.
    bool cvc(int i) const {
        if (i < m_k0 + 2 || !cons(i) || cons(i - 1) || !cons(i - 2)) return false;
        return m_b[i] != 'w' && m_b[i] != 'x' && m_b[i] != 'y';
    }

    bool ends(const char* s) {
        const int length = static_cast<int>(std::strlen(s));
        if (s[length - 1] != m_b[m_k]) return false;
        if (length > m_k - m_k0 + 1) return false;
        if (std::memcmp(m_b + m_k - length + 1, s, static_cast<size_t>(length)) != 0) return false;
        m_j = m_k - length;
        return true;
    }

    void setTo(const char* s) {
        const int length = static_cast<int>(std::strlen(s));
        std::memmove(m_b + m_j + 1, s, static_cast<size_t>(length));
        lettersChangedFrom(m_j + 1);
        m_k = m_j + length;
    }

    void replaceIfMeasured(const char* s) {
        if (measure() > 0) setTo(s);
    }

    // Suffix rules {suffix, replacement}: the first suffix that ends the
    // word is replaced when the stem before it has a measure above 0.
    struct Rule {
        const char* suffix;
        const char* replacement;
    };
    template <size_t N>
    void applyFirst(const Rule (&rules)[N]) {
        for (const Rule& r : rules) {
            if (ends(r.suffix)) {
                replaceIfMeasured(r.replacement);
                return;
            }
        }
    }

    void step1ab() {
        if (m_b[m_k] == 's') {
            if (ends("sses")) {
                m_k -= 2;
            } else if (ends("ies")) {
                setTo("i");
            } else if (m_b[m_k - 1] != 's') {
                --m_k;
            }
        }
        if (ends("eed")) {
            if (measure() > 0) --m_k;
        } else if ((ends("ed") || ends("ing")) && vowelInStem()) {
            m_k = m_j;
            if (ends("at")) {
                setTo("ate");
            } else if (ends("bl")) {
                setTo("ble");
            } else if (ends("iz")) {
                setTo("ize");
            } else if (doubleConsonant(m_k)) {
                --m_k;
                const char c = m_b[m_k];
                if (c == 'l' || c == 's' || c == 'z') ++m_k;
            } else if (m_j = m_k, measure() == 1 && cvc(m_k)) {
                setTo("e");
            }
        }
    }

    void step1c() {
        if (ends("y") && vowelInStem()) {
            m_b[m_k] = 'i';
            lettersChangedFrom(m_k);
        }
    }

    void step2() {
        static const Rule rules[] = {
            {"ational", "ate"}, {"tional", "tion"}, {"enci", "ence"}, {"anci", "ance"}, {"izer", "ize"},
            {"bli", "ble"},     {"alli", "al"},     {"entli", "ent"}, {"eli", "e"},     {"ousli", "ous"},
            {"ization", "ize"}, {"ation", "ate"},   {"ator", "ate"},  {"alism", "al"},  {"iveness", "ive"},
            {"fulness", "ful"}, {"ousness", "ous"}, {"aliti", "al"},  {"iviti", "ive"}, {"biliti", "ble"},
            {"logi", "log"},
        };
        applyFirst(rules);
    }

    void step3() {
        static const Rule rules[] = {
            {"icate", "ic"}, {"ative", ""}, {"alize", "al"}, {"iciti", "ic"}, {"ical", "ic"}, {"ful", ""}, {"ness", ""},
        };
        applyFirst(rules);
    }

    void step4() {
        static const char* const suffixes[] = {"al",  "ance",  "ence", "er",  "ic",  "able", "ible",
                                               "ant", "ement", "ment", "ent", "ion", "ou",   "ism",
                                               "ate", "iti",   "ous",  "ive", "ize"};
        for (const char* s : suffixes) {
            if (!ends(s)) continue;
            if (std::strcmp(s, "ion") == 0 && !(m_j >= m_k0 && (m_b[m_j] == 's' || m_b[m_j] == 't'))) continue;
            if (measure() > 1) m_k = m_j;
            return;
        }
    }

    void step5() {
        m_j = m_k;
        if (m_b[m_k] == 'e') {
            const int m = measure();
            if (m > 1 || (m == 1 && !cvc(m_k - 1))) --m_k;
        }
        if (m_b[m_k] == 'l' && doubleConsonant(m_k) && measure() > 1) --m_k;
    }

    char* m_b;
    int m_k0;
    int m_k;
    int m_j;
    mutable std::vector<uint8_t> m_consonant;  // cons() of b[k0], b[k0 + 1], ...
    mutable size_t m_known = 0;                // how many of them hold
};

}  // namespace

int stem(char* b, int k0, int k) {
    return PorterStemmer(b, k0, k).run();
}

void stemWords(const char* text, char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    for (const IrregularForm& row : kIrregular) {
        if (strcasecmp(text, row.inflected) == 0) {
            std::snprintf(out, static_cast<size_t>(size), "%s", row.base);
            return;
        }
    }
    std::string word;
    int n = 0;
    const char* p = text;
    while (*p && n < size - 1) {
        if (!isLetter(*p)) {
            out[n++] = *p++;
            continue;
        }
        word.clear();
        while (isLetter(*p)) word += asciiLower(*p++);
        const int end = stem(&word[0], 0, static_cast<int>(word.size()) - 1);
        const int length = end + 1;
        if (n + length >= size) break;
        std::memcpy(out + n, word.data(), static_cast<size_t>(length));
        n += length;
    }
    out[n] = 0;
}
