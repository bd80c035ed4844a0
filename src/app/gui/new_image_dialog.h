#pragma once
// File > New ("New EPROM"): the base image and the MAF sensor type of a new image.
#include "app/core/workflow_view.h"

#include <QDialog>

#include <array>

class QRadioButton;

namespace kv {

// The base images offered, in the dialog's order.
struct BaseImageOption {
    const char* baseName;
    const char* caption;
    bool fuel; // in the LH frame (else the EZK frame)
};
const std::array<BaseImageOption, 4>& BaseImageOptions();

class NewImageDialog final : public QDialog {
    Q_OBJECT
public:
    NewImageDialog(const NewImageChoice& initial, QWidget* parent = nullptr);
    // The choice shown now.
    NewImageChoice Choice() const;

    QRadioButton* BaseButton(int index) const { return radioBase_[static_cast<std::size_t>(index)]; }
    QRadioButton* SuperMafButton() const { return radioSuperMAF_; }
    QRadioButton* StandardMafButton() const { return radioStandardMAF_; }

private:
    std::array<QRadioButton*, 4> radioBase_{};
    QRadioButton* radioSuperMAF_;
    QRadioButton* radioStandardMAF_;
};

} // namespace kv
