// The toolkit's own file dialog sized for the programs it lists: its detail
// view shows sizes ("300 KiB"), types and dates whole, the name column
// taking the rest. A desktop's own dialog is left as it is. GUI thread.
#pragma once

class QFileDialog;

namespace skarvel {

void FitFileDialog(QFileDialog& dialog);

}  // namespace skarvel
