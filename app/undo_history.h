#pragma once
// The window's undo history: a QUndoStack of the steps that change what the model
// shows, each holding only what it needs to go back and forth:
//  - a selection stroke (a press of the left or right button over the view, its drag,
//    its release): the indices of the selection entries it changed, 4 bytes each (a
//    stroke changes at most one entry per pick, so per mouse event), each flipped back;
//  - a settled position of a reduction track bar: the bar, its two positions and the
//    two fractions shown (whichever bar moved last decides the reduction, so the
//    fraction before is not always the bar's own), about 100 bytes; going back and forth
//    runs Reduce once;
//  - the texture-coordinate rewrite: what it replaced (TTexCoordState: 12 bytes a table
//    slot, 4 a texture index); redone by rewriting again. A rewrite that changes nothing
//    is no step, so the history holds at most one such state: a second one needs the
//    first undone, and a new step drops what was undone;
//  - the triangulation: the whole model record it replaced (moved out, not copied), and
//    undo and redo swap the two records. A model of triangles only is no step, and a
//    triangulated one has no polygon left, so the history holds one such record at most.
// At most kSteps steps are kept (the oldest go first). Loading a file starts a new
// history (Clear).
#include <QUndoStack>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "KGLModel.h"

class TTrackBar;

class TUndoHistory {
public:
    static constexpr int kSteps = 200;

    // How the window applies a reduction step: bar to position without raising its
    // OnChange, then Reduce with fraction.
    using TApplyReduction = std::function<void(TTrackBar* bar, int position, double fraction)>;
    // How the window shows a changed texture-coordinate table (the information text).
    using TRefresh = std::function<void()>;

    TUndoHistory(kgl::TKGLModel& model, TApplyReduction applyReduction, TRefresh refresh);

    QUndoStack& Stack() { return FStack; }
    void Undo() { FStack.undo(); }
    void Redo() { FStack.redo(); }
    // A new history: every step dropped.
    void Clear() { FStack.clear(); }
    // Bytes the steps hold beyond their fixed size (the diagnostics and the benchmark).
    size_t HeldBytes() const;

    // ---- selection strokes ----
    // A stroke begins: the selection lists as they are now are kept until it ends.
    void BeginStroke();
    bool InStroke() const { return FInStroke; }
    // The stroke ends: the entries it changed make one step (none: no step).
    void EndStroke();

    // ---- reduction track bars ----
    // bar has settled at a new position (the slider let go, a key, a wheel notch, a
    // click on the groove, or the program): from the position it last settled at, and
    // the fraction shown then, to the position and fraction now. No step when the
    // position is unchanged.
    void Settle(TTrackBar* bar, int position, double fraction);
    // Where the bars stand as far as the history knows (a load puts them there anew).
    void SetSettled(TTrackBar* bar, int position, double fraction);

    // ---- the texture-coordinate rewrite ----
    // Runs rewrite (which rewrites the model's texture coordinates and shows the result)
    // and records a step when it changed them.
    void Rewrite(const std::function<void()>& rewrite);

    // ---- the triangulation ----
    // Runs triangulate (which cuts the model's faces, TriangulateFaces, handing the
    // record it replaced to its argument, and returns true when it cut any) and records a
    // step when it did. refresh shows either model after an undo or a redo.
    void Triangulate(const std::function<bool(kgl::TKGLModel& replaced)>& triangulate);

private:
    kgl::TKGLModel& FModel;
    TApplyReduction FApplyReduction;
    TRefresh FRefresh;
    QUndoStack FStack;
    bool FInStroke = false;
    std::array<std::vector<kgl::TBool>, 3> FBefore;  // edgeSel, groupSel, faceSel at the stroke's start
    std::vector<std::pair<TTrackBar*, int>> FSettledAt;
    double FSettledFraction = 0;

    int& SettledAt(TTrackBar* bar);
    friend class TReductionStep;
};
