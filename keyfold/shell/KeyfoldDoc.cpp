#include "keyfold/shell/KeyfoldDoc.h"

void CKeyfoldDoc::ClearDetails() {
  m_arrFieldNames.clear();
  m_arrFieldValues.clear();
  m_strMessage.clear();
  m_strNote.clear();
  UpdateAllViews(nullptr);
}

void CKeyfoldDoc::AddField(std::string name, std::string value) {
  m_arrFieldNames.push_back(std::move(name));
  m_arrFieldValues.push_back(std::move(value));
}
