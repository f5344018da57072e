#include "insert/PasteMethod.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace larkspire {
namespace {

using platform::ChordKey;

enum class Kind { ordinary, clipboardTerminal, primaryTerminal, gvim, emacs };

struct Entry {
    std::string_view name;  // WM_CLASS class or instance, or process name, lower-cased
    Kind kind;
};

// Applications whose paste key is not Ctrl+V. xterm, uxterm and rxvt-unicode bind no
// clipboard chord by default: their Shift+Insert pastes PRIMARY (measured: Ctrl+Shift+V
// types ^V into the program). gVim's Ctrl+V inserts the next key literally, and its
// Shift+Insert pastes only where a startup file maps it (Debian's does; with --clean it
// inserts "<S-Insert>"): Vim's own insert-mode command, Ctrl+R Ctrl+O and a register,
// inserts a register as typed, without indenting. Shift and the "+" key name the "+
// register (CLIPBOARD) on US-like layouts and the "* register (PRIMARY) where "+" is
// unshifted; both hold the text. Emacs scrolls on C-v and yanks the clipboard on C-y.
constexpr std::array kTable{
    Entry{"xterm", Kind::primaryTerminal},
    Entry{"uxterm", Kind::primaryTerminal},
    Entry{"urxvt", Kind::primaryTerminal},
    Entry{"urxvtd", Kind::primaryTerminal},
    Entry{"rxvt", Kind::primaryTerminal},
    Entry{"rxvt-unicode", Kind::primaryTerminal},
    Entry{"eterm", Kind::primaryTerminal},
    Entry{"gnome-terminal", Kind::clipboardTerminal},
    Entry{"gnome-terminal-server", Kind::clipboardTerminal},
    Entry{"org.gnome.terminal", Kind::clipboardTerminal},
    Entry{"kgx", Kind::clipboardTerminal},
    Entry{"org.gnome.console", Kind::clipboardTerminal},
    Entry{"konsole", Kind::clipboardTerminal},
    Entry{"org.kde.konsole", Kind::clipboardTerminal},
    Entry{"yakuake", Kind::clipboardTerminal},
    Entry{"xfce4-terminal", Kind::clipboardTerminal},
    Entry{"lxterminal", Kind::clipboardTerminal},
    Entry{"mate-terminal", Kind::clipboardTerminal},
    Entry{"qterminal", Kind::clipboardTerminal},
    Entry{"terminator", Kind::clipboardTerminal},
    Entry{"tilix", Kind::clipboardTerminal},
    Entry{"com.gexperts.tilix", Kind::clipboardTerminal},
    Entry{"guake", Kind::clipboardTerminal},
    Entry{"tilda", Kind::clipboardTerminal},
    Entry{"sakura", Kind::clipboardTerminal},
    Entry{"terminology", Kind::clipboardTerminal},
    Entry{"alacritty", Kind::clipboardTerminal},
    Entry{"kitty", Kind::clipboardTerminal},
    Entry{"wezterm", Kind::clipboardTerminal},
    Entry{"wezterm-gui", Kind::clipboardTerminal},
    Entry{"org.wezfurlong.wezterm", Kind::clipboardTerminal},
    Entry{"foot", Kind::clipboardTerminal},
    Entry{"footclient", Kind::clipboardTerminal},
    Entry{"st", Kind::clipboardTerminal},
    Entry{"st-256color", Kind::clipboardTerminal},
    Entry{"cool-retro-term", Kind::clipboardTerminal},
    Entry{"deepin-terminal", Kind::clipboardTerminal},
    Entry{"io.elementary.terminal", Kind::clipboardTerminal},
    Entry{"com.mitchellh.ghostty", Kind::clipboardTerminal},
    Entry{"ghostty", Kind::clipboardTerminal},
    Entry{"blackbox", Kind::clipboardTerminal},
    Entry{"gvim", Kind::gvim},
    Entry{"emacs", Kind::emacs},
};

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<Kind> listed(std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    const std::string key = lower(name);
    for (const auto& e : kTable) {
        if (e.name == key) {
            return e.kind;
        }
    }
    return std::nullopt;
}

Kind kindOf(const platform::FrontWindow& w) {
    for (const auto& name : {w.windowClass, w.windowInstance, w.processName}) {
        if (auto kind = listed(name)) {
            return *kind;
        }
    }
    for (const auto& name : {w.windowClass, w.windowInstance, w.processName}) {
        if (lower(name).find("term") != std::string::npos) {
            return Kind::clipboardTerminal;
        }
    }
    return Kind::ordinary;
}

}  // namespace

PasteMethod PasteMethod::forWindow(const platform::FrontWindow& window) {
    switch (kindOf(window)) {
        case Kind::clipboardTerminal:
            return {{{ChordKey::control, ChordKey::shift, ChordKey::v}}, false, std::nullopt};
        case Kind::primaryTerminal:
            return {{{ChordKey::shift, ChordKey::insert}}, true, std::nullopt};
        case Kind::gvim:
            return {{{ChordKey::control, ChordKey::r},
                     {ChordKey::control, ChordKey::o},
                     {ChordKey::shift, ChordKey::plus}},
                    true,
                    std::nullopt};
        case Kind::emacs:
            return {{{ChordKey::control, ChordKey::y}}, false, std::nullopt};
        case Kind::ordinary:
            break;
    }
    return {{{ChordKey::control, ChordKey::v}},
            false,
            std::vector<ChordKey>{ChordKey::control, ChordKey::z}};
}

std::string chordName(const std::vector<Chord>& chords) {
    std::string out;
    for (const Chord& chord : chords) {
        out += (out.empty() ? "" : ", ") + chordName(chord);
    }
    return out;
}

std::string chordName(const Chord& keys) {
    std::string out;
    for (auto key : keys) {
        if (!out.empty()) {
            out += "+";
        }
        switch (key) {
            case ChordKey::control:
                out += "Ctrl";
                break;
            case ChordKey::shift:
                out += "Shift";
                break;
            case ChordKey::insert:
                out += "Insert";
                break;
            case ChordKey::v:
                out += "V";
                break;
            case ChordKey::y:
                out += "Y";
                break;
            case ChordKey::z:
                out += "Z";
                break;
            case ChordKey::r:
                out += "R";
                break;
            case ChordKey::o:
                out += "O";
                break;
            case ChordKey::plus:
                out += "Plus";
                break;
        }
    }
    return out;
}

}  // namespace larkspire
