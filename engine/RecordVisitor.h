// A cell visitor for the recovery passes: decodes each record a walk hands
// on (display mode: values held in memory, nothing written) and passes it
// to a function.
#pragma once

#include <type_traits>
#include <utility>

#include "engine/SQLiteRecovery.h"

namespace velmora {

// `F` is called as f(const CellRef&, const RecordView&) for every record
// whose payload fits its cell and that holds at least one value; a cell
// that does not is skipped. When `F` returns bool, false stops the walk.
template <typename F>
class RecordVisitor : public ICellVisitor {
 public:
  RecordVisitor(const CSQLiteRecovery& session, F onRecord)
      : m_session(session), m_onRecord(std::move(onRecord)) {}
  CellUse VisitCell(const CellRef& cell) override {
    if (!m_session.DecodeCell(cell, DecodeMode::Display, nullptr, m_view) || m_view.values.empty())
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
  const CSQLiteRecovery& m_session;
  F m_onRecord;
  RecordView m_view;
};

template <typename F>
RecordVisitor<F> MakeVisitor(const CSQLiteRecovery& session, F onRecord) {
  return RecordVisitor<F>(session, std::move(onRecord));
}

}  // namespace velmora
