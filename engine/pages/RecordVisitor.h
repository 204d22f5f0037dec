// A cell visitor for the recovery passes: decodes each record a walk hands
// on (display mode: values held in memory, nothing written) and passes it
// to a function. The passes and the session decode walked cells through
// DecodeWalkedCell.
#pragma once

#include <type_traits>
#include <utility>

#include "engine/core/RecordView.h"
#include "engine/pages/PageSource.h"
#include "engine/pages/RecordDecoder.h"
#include "engine/pages/TreeWalk.h"

namespace velmora {

// Decodes a cell that a walk handed on into `view`, its overflow pages
// claimed for the walk (counted in its set, recorded in its page map) and,
// in save mode, long values written to the files `files` names; returns
// whether the record fits its cell.
inline bool DecodeWalkedCell(const PageSource& source, const CellRef& cell, DecodeMode mode,
                             ILongValueFiles* files, RecordView& view) {
  WalkOverflowClaims claims(cell);
  TempFileSpill spill(files);
  return DecodeCellPayload(source, CellInput::Of(cell), mode, view, &claims, &spill);
}

// `F` is called as f(const CellRef&, const RecordView&) for every record
// whose payload fits its cell and that holds at least one value; a cell
// that does not is skipped. When `F` returns bool, false stops the walk.
template <typename F>
class RecordVisitor : public ICellVisitor {
 public:
  RecordVisitor(const PageSource& source, F onRecord)
      : m_source(source), m_onRecord(std::move(onRecord)) {}
  CellUse VisitCell(const CellRef& cell) override {
    if (!DecodeWalkedCell(m_source, cell, DecodeMode::Display, nullptr, m_view) ||
        m_view.values.empty())
      return CellUse::Skipped;
    if constexpr (std::is_same_v<std::invoke_result_t<F&, const CellRef&, const RecordView&>,
                                 bool>) {
      return m_onRecord(cell, m_view) ? CellUse::Used : CellUse::Stop;
    } else {
      m_onRecord(cell, m_view);
      return CellUse::Used;
    }
  }

 private:
  const PageSource& m_source;
  F m_onRecord;
  RecordView m_view;
};

template <typename F>
RecordVisitor<F> MakeVisitor(const PageSource& source, F onRecord) {
  return RecordVisitor<F>(source, std::move(onRecord));
}

}  // namespace velmora
