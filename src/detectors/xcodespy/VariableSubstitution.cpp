#include "detectors/xcodespy/VariableSubstitution.h"

#include <algorithm>
#include <unordered_map>

namespace quillon::detectors::xcodespy {

namespace {

bool isIdentifier(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The names of the table in a trie, so that the names a run after "$" starts with are found in
// one walk along the run.
class NameTrie {
  public:
    explicit NameTrie(const std::vector<std::pair<std::string, std::string>>& table) {
        terminal_.push_back(-1);
        for (std::size_t k = 0; k < table.size(); ++k) {
            int node = 0;
            for (char c : table[k].first) {
                node = child(node, c, true);
            }
            terminal_[static_cast<std::size_t>(node)] = static_cast<int>(k);
        }
    }
    static constexpr int kRoot = 0;
    static constexpr int kNone = -1;

    // The node after `c`, or kNone.
    int step(int node, char c) const {
        if (node == kNone) {
            return kNone;
        }
        const auto found = edges_.find(key(node, c));
        return found == edges_.end() ? kNone : found->second;
    }
    int nameAt(int node) const {
        return node == kNone ? -1 : terminal_[static_cast<std::size_t>(node)];
    }

  private:
    static std::uint64_t key(int node, char c) {
        return (static_cast<std::uint64_t>(node) << 8) | static_cast<unsigned char>(c);
    }
    int child(int node, char c, bool create) {
        const auto found = edges_.find(key(node, c));
        if (found != edges_.end() || !create) {
            return found == edges_.end() ? kNone : found->second;
        }
        const int made = static_cast<int>(terminal_.size());
        terminal_.push_back(-1);
        edges_.emplace(key(node, c), made);
        return made;
    }

    std::vector<int> terminal_;
    std::unordered_map<std::uint64_t, int> edges_;
};

// The text as a linked list of pieces: a dollar piece is "$" with the longest run of
// identifier characters after it; a literal piece holds no "$". A dollar piece is always
// followed by another dollar piece, a literal starting with a non-identifier character, or
// nothing, so its run is exactly what "$name" tokens can match there.
class PieceText {
  public:
    PieceText(std::string_view script,
              const std::vector<std::pair<std::string, std::string>>& table)
        : table_(table), trie_(table), live_(table.size(), 0), occurrences_(table.size()) {
        size_ = script.size();
        append(tail_, script);
    }

    std::size_t size() const { return size_; }
    bool occurs(std::size_t name) const { return live_[name] > 0; }

    // Replaces the occurrences of name `k` present now, left to right, while the text stays
    // within `limit`; returns false when the limit stopped it.
    bool replaceAll(std::size_t k, std::size_t limit) {
        std::vector<int> snapshot;
        for (int id : occurrences_[k]) {
            if (pieces_[static_cast<std::size_t>(id)].alive) {
                snapshot.push_back(id);
            }
        }
        occurrences_[k].clear();  // what the replacements insert is not replaced this time
        const auto& [name, value] = table_[k];
        const auto tokenSize = static_cast<std::ptrdiff_t>(name.size() + 1);
        const std::ptrdiff_t delta = static_cast<std::ptrdiff_t>(value.size()) - tokenSize;
        std::size_t allowed = snapshot.size();
        if (delta > 0 && size_ + snapshot.size() * static_cast<std::size_t>(delta) > limit) {
            allowed = (limit - size_) / static_cast<std::size_t>(delta);
            sortByPosition(snapshot);
        }
        for (std::size_t i = 0; i < allowed; ++i) {
            replace(snapshot[i], name.size(), value);
        }
        // Occurrences left by the limit stay occurrences.
        for (std::size_t i = allowed; i < snapshot.size(); ++i) {
            occurrences_[k].push_back(snapshot[i]);
        }
        return allowed == snapshot.size();
    }

    std::string str() const {
        std::string out;
        out.reserve(size_);
        for (int id = head_; id != -1; id = pieces_[static_cast<std::size_t>(id)].next) {
            out += pieces_[static_cast<std::size_t>(id)].text;
        }
        return out;
    }

  private:
    struct Piece {
        std::string text;
        bool dollar = false;
        bool alive = true;
        int prev = -1;
        int next = -1;
        int node = NameTrie::kRoot;  // dollar pieces: where the walk along the run stands
    };

    Piece& at(int id) { return pieces_[static_cast<std::size_t>(id)]; }

    int link(int after, Piece piece) {
        const int id = static_cast<int>(pieces_.size());
        piece.prev = after;
        piece.next = after == -1 ? head_ : at(after).next;
        pieces_.push_back(std::move(piece));
        if (pieces_[static_cast<std::size_t>(id)].next != -1) {
            at(pieces_[static_cast<std::size_t>(id)].next).prev = id;
        } else {
            tail_ = id;
        }
        if (after == -1) {
            head_ = id;
        } else {
            at(after).next = id;
        }
        return id;
    }

    void unlink(int id) {
        Piece& piece = at(id);
        if (piece.prev != -1)
            at(piece.prev).next = piece.next;
        else
            head_ = piece.next;
        if (piece.next != -1)
            at(piece.next).prev = piece.prev;
        else
            tail_ = piece.prev;
        piece.alive = false;
    }

    // Walks the trie along `run` from the piece's node, indexing the names found.
    void extendRun(int id, std::string_view run) {
        Piece& piece = at(id);
        piece.text.append(run);
        for (char c : run) {
            piece.node = trie_.step(piece.node, c);
            if (piece.node == NameTrie::kNone) {
                break;
            }
            if (const int name = trie_.nameAt(piece.node); name >= 0) {
                occurrences_[static_cast<std::size_t>(name)].push_back(id);
                ++live_[static_cast<std::size_t>(name)];
            }
        }
    }

    void forget(int id) {
        const Piece& piece = at(id);
        int node = NameTrie::kRoot;
        for (std::size_t i = 1; i < piece.text.size() && node != NameTrie::kNone; ++i) {
            node = trie_.step(node, piece.text[i]);
            if (const int name = trie_.nameAt(node); name >= 0) {
                --live_[static_cast<std::size_t>(name)];
            }
        }
    }

    // Appends text after piece `after` (-1: at the front), merging into neighbours as the piece
    // invariant asks; returns the last piece.
    int append(int after, std::string_view text) {
        std::size_t i = 0;
        // Identifier characters right after a dollar piece lengthen its run.
        std::size_t lead = 0;
        while (lead < text.size() && isIdentifier(text[lead]))
            ++lead;
        if (lead > 0) {
            if (after != -1 && at(after).dollar) {
                extendRun(after, text.substr(0, lead));
            } else if (after != -1) {
                at(after).text.append(text.substr(0, lead));
            } else {
                after = link(after, Piece{std::string(text.substr(0, lead))});
            }
            i = lead;
        }
        while (i < text.size()) {
            if (text[i] == '$') {
                std::size_t end = i + 1;
                while (end < text.size() && isIdentifier(text[end]))
                    ++end;
                after = link(after, Piece{"$", true});
                extendRun(after, text.substr(i + 1, end - i - 1));
                i = end;
                continue;
            }
            const std::size_t dollar = std::min(text.find('$', i), text.size());
            if (after != -1 && !at(after).dollar) {
                at(after).text.append(text.substr(i, dollar - i));
            } else {
                after = link(after, Piece{std::string(text.substr(i, dollar - i))});
            }
            i = dollar;
        }
        return after;
    }

    void replace(int id, std::size_t nameSize, const std::string& value) {
        const std::string rest = at(id).text.substr(1 + nameSize);
        const std::size_t removed = at(id).text.size();
        const int before = at(id).prev;
        forget(id);
        unlink(id);
        size_ = size_ - removed + value.size() + rest.size();
        append(before, value + rest);
    }

    void sortByPosition(std::vector<int>& ids) {
        std::unordered_map<int, std::size_t> rank;
        std::size_t position = 0;
        for (int id = head_; id != -1; id = at(id).next) {
            rank.emplace(id, position++);
        }
        std::sort(ids.begin(), ids.end(), [&](int a, int b) { return rank[a] < rank[b]; });
    }

    const std::vector<std::pair<std::string, std::string>>& table_;
    NameTrie trie_;
    std::vector<Piece> pieces_;
    std::vector<std::size_t> live_;              // per name: pieces where "$name" occurs
    std::vector<std::vector<int>> occurrences_;  // per name: those pieces, and dead ones
    int head_ = -1;
    int tail_ = -1;
    std::size_t size_ = 0;
};

}  // namespace

SubstitutionOutcome substituteVariables(
    std::string_view script, const std::vector<std::pair<std::string, std::string>>& table,
    std::size_t limit, const PassObserver& afterPass) {
    PieceText text(script, table);
    SubstitutionOutcome outcome;
    for (std::int64_t pass = 1; pass <= 10; ++pass) {
        outcome.passes = pass;
        bool changed = false;
        for (std::size_t k = 0; k < table.size() && !outcome.limited; ++k) {
            if (!text.occurs(k)) {
                continue;
            }
            changed = true;
            outcome.limited = !text.replaceAll(k, limit);
        }
        if (afterPass) {
            afterPass(pass, [&] { return text.str(); });
        }
        if (outcome.limited || !changed) {
            break;
        }
    }
    outcome.text = text.str();
    return outcome;
}

}  // namespace quillon::detectors::xcodespy
