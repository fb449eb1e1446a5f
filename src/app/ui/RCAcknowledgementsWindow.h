#pragma once

#include <QTextBrowser>

namespace pindle::ui {

// Shows the bundled "Acknowledgements.markdown": every library the program uses and its
// licence. A file that cannot be read leaves the view empty and says so in the log.
class RCAcknowledgementsWindow : public QTextBrowser {
    Q_OBJECT

public:
    RCAcknowledgementsWindow();
};

}  // namespace pindle::ui
