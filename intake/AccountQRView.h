#pragma once

#include "core/Account.h"

#include <QDialog>
#include <QImage>

class QLabel;

// The sheet that shows one account as a QR code, for moving it to another
// device: the account's otpauth:// link (secret included) drawn on a white
// square, with a warning. It writes, stores and logs nothing.
class AccountQRView : public QDialog {
    Q_OBJECT

public:
    static constexpr int codeSide = 240; // the square the code is fitted into
    static constexpr int codePadding = 16;

    explicit AccountQRView(const Account& account, QWidget* parent = nullptr);

    // The code as drawn: modules of 8 x 8 pixels; a null image when the link
    // cannot be encoded, and the white square then stays empty.
    static QImage qrImage(const Account& account);
};
