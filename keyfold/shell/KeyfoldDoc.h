// The single document: the field rows of the certificate last shown, the
// message pane's text, the full public-key text and the PIN check's
// scratch text. Texts are GBK bytes. Nothing is stored on disk.
#pragma once

#include <string>
#include <vector>

#include "keyfold/framework/Document.h"

class CKeyfoldDoc : public kf::CDocument {
 public:
  std::string m_strMessage;
  std::string m_strPublicKey;
  std::string m_strNote;
  // Always the same count: writers append or empty both together.
  std::vector<std::string> m_arrFieldNames;
  std::vector<std::string> m_arrFieldValues;

  // Empties the rows, the message and the note, keeps m_strPublicKey, and
  // updates all views.
  void ClearDetails();
  // Appends one row to both lists.
  void AddField(std::string name, std::string value);
};
