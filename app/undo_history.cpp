#include "undo_history.h"

#include <QUndoCommand>
#include <utility>

namespace {

using kgl::TKGLModel;

// The selection lists a stroke may change, in one order everywhere.
constexpr std::vector<kgl::TBool> TKGLModel::*kLists[3] = {&TKGLModel::edgeSel, &TKGLModel::groupSel,
                                                           &TKGLModel::faceSel};

// A step of the history. Its first redo is the push, after the change was made: it
// only records.
class TStep : public QUndoCommand {
public:
    using QUndoCommand::QUndoCommand;
    // Bytes held beyond the step's fixed size.
    virtual size_t Bytes() const = 0;
    void redo() final {
        if (FPushed) Again();
        FPushed = true;
    }

protected:
    virtual void Again() = 0;

private:
    bool FPushed = false;
};

class TSelectionStep : public TStep {
public:
    TSelectionStep(TKGLModel& model, std::array<std::vector<int32_t>, 3> changed)
        : TStep(QStringLiteral("Select")), FModel(model), FChanged(std::move(changed)) {}
    size_t Bytes() const override {
        size_t n = 0;
        for (const auto& c : FChanged) n += c.capacity() * sizeof(int32_t);
        return n;
    }
    void undo() override { Flip(); }

protected:
    void Again() override { Flip(); }

private:
    // Each entry changed by the stroke takes its other value: undo and redo alike.
    void Flip() {
        for (size_t l = 0; l < 3; ++l) {
            std::vector<kgl::TBool>& list = FModel.*kLists[l];
            for (int32_t i : FChanged[l])
                if (static_cast<size_t>(i) < list.size())
                    list[static_cast<size_t>(i)] = list[static_cast<size_t>(i)] ? 0 : 1;
        }
    }
    TKGLModel& FModel;
    std::array<std::vector<int32_t>, 3> FChanged;
};

class TTexCoordStep : public TStep {
public:
    TTexCoordStep(TKGLModel& model, kgl::TTexCoordState before, std::function<void()> rewrite,
                  TUndoHistory::TRefresh refresh)
        : TStep(QStringLiteral("Rewrite texture coordinates")),
          FModel(model),
          FBefore(std::move(before)),
          FRewrite(std::move(rewrite)),
          FRefresh(std::move(refresh)) {}
    size_t Bytes() const override {
        return FBefore.texCoords.capacity() * sizeof(kgl::TTexCoord) + FBefore.tIdx.capacity() * sizeof(int32_t);
    }
    void undo() override {
        kgl::RestoreTexCoordState(FModel, FBefore);
        if (FRefresh) FRefresh();
    }

protected:
    void Again() override { FRewrite(); }

private:
    TKGLModel& FModel;
    kgl::TTexCoordState FBefore;
    std::function<void()> FRewrite;
    TUndoHistory::TRefresh FRefresh;
};

// The model record before the triangulation and the one after: undo and redo swap them.
class TTriangulationStep : public TStep {
public:
    TTriangulationStep(TKGLModel& model, TKGLModel&& other, TUndoHistory::TRefresh refresh)
        : TStep(QStringLiteral("Triangulate")), FModel(model), FOther(std::move(other)), FRefresh(std::move(refresh)) {}
    size_t Bytes() const override {
        size_t n = FOther.vertices.capacity() * sizeof(kgl::TVertex) + FOther.normals.capacity() * sizeof(kgl::TVec3) +
                   FOther.texCoords.capacity() * sizeof(kgl::TTexCoord) + FOther.edges.capacity() * sizeof(kgl::TEdge);
        for (const kgl::TGroup& g : FOther.groups) n += g.faces.capacity() * sizeof(kgl::TFace);
        return n;
    }
    void undo() override { Swap(); }

protected:
    void Again() override { Swap(); }

private:
    void Swap() {
        std::swap(FModel, FOther);
        if (FRefresh) FRefresh();
    }
    TKGLModel& FModel;
    TKGLModel FOther;
    TUndoHistory::TRefresh FRefresh;
};

}  // namespace

class TReductionStep : public TStep {
public:
    TReductionStep(TUndoHistory& history, TTrackBar* bar, int from, int to, double fractionFrom, double fractionTo)
        : TStep(QStringLiteral("Reduce")),
          FHistory(history),
          FBar(bar),
          FFrom(from),
          FTo(to),
          FFractionFrom(fractionFrom),
          FFractionTo(fractionTo) {}
    size_t Bytes() const override { return 0; }
    void undo() override { Go(FFrom, FFractionFrom); }

protected:
    void Again() override { Go(FTo, FFractionTo); }

private:
    void Go(int position, double fraction) {
        FHistory.FApplyReduction(FBar, position, fraction);
        FHistory.SettledAt(FBar) = position;
        FHistory.FSettledFraction = fraction;
    }
    TUndoHistory& FHistory;
    TTrackBar* FBar;
    int FFrom, FTo;
    double FFractionFrom, FFractionTo;
};

TUndoHistory::TUndoHistory(kgl::TKGLModel& model, TApplyReduction applyReduction, TRefresh refresh)
    : FModel(model), FApplyReduction(std::move(applyReduction)), FRefresh(std::move(refresh)) {
    FStack.setUndoLimit(kSteps);
}

size_t TUndoHistory::HeldBytes() const {
    size_t n = 0;
    for (int i = 0; i < FStack.count(); ++i)
        if (const auto* step = dynamic_cast<const TStep*>(FStack.command(i))) n += step->Bytes();
    return n;
}

void TUndoHistory::BeginStroke() {
    if (FInStroke) return;
    FInStroke = true;
    for (size_t l = 0; l < 3; ++l) FBefore[l] = FModel.*kLists[l];
}

void TUndoHistory::EndStroke() {
    if (!FInStroke) return;
    FInStroke = false;
    std::array<std::vector<int32_t>, 3> changed;
    bool any = false;
    for (size_t l = 0; l < 3; ++l) {
        const std::vector<kgl::TBool>& before = FBefore[l];
        const std::vector<kgl::TBool>& after = FModel.*kLists[l];
        // an entry the list did not have before was false
        for (size_t i = 0; i < after.size(); ++i)
            if ((i < before.size() && before[i]) != (after[i] != 0)) changed[l].push_back(static_cast<int32_t>(i));
        changed[l].shrink_to_fit();
        any = any || !changed[l].empty();
        std::vector<kgl::TBool>().swap(FBefore[l]);
    }
    if (any) FStack.push(new TSelectionStep(FModel, std::move(changed)));
}

int& TUndoHistory::SettledAt(TTrackBar* bar) {
    for (auto& [b, at] : FSettledAt)
        if (b == bar) return at;
    return FSettledAt.emplace_back(bar, 0).second;
}

void TUndoHistory::SetSettled(TTrackBar* bar, int position, double fraction) {
    SettledAt(bar) = position;
    FSettledFraction = fraction;
}

void TUndoHistory::Settle(TTrackBar* bar, int position, double fraction) {
    int& at = SettledAt(bar);
    if (at == position) return;
    FStack.push(new TReductionStep(*this, bar, at, position, FSettledFraction, fraction));
    at = position;
    FSettledFraction = fraction;
}

void TUndoHistory::Triangulate(const std::function<bool(kgl::TKGLModel& replaced)>& triangulate) {
    TKGLModel replaced;
    if (!triangulate(replaced)) return;
    FStack.push(new TTriangulationStep(FModel, std::move(replaced), FRefresh));
}

void TUndoHistory::Rewrite(const std::function<void()>& rewrite) {
    kgl::TTexCoordState before = kgl::SaveTexCoordState(FModel);
    rewrite();
    if (kgl::SameTexCoordState(FModel, before)) return;
    FStack.push(new TTexCoordStep(FModel, std::move(before), rewrite, FRefresh));
}
