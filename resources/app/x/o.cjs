/* Orvaline's look: a Qt style sheet, read at start-up when present. */

QWidget#Form1 {
    background: #f4f6f8;
}

QTreeWidget#ListView1 {
    background: #ffffff;
    border: 1px solid #c9d1d9;
    border-radius: 4px;
    selection-background-color: #1f6f8b;
    selection-color: #ffffff;
    alternate-background-color: #f8fafb;
}

QTreeWidget#ListView1 QHeaderView::section {
    background: #e9eef2;
    color: #24313b;
    border: none;
    border-bottom: 1px solid #c9d1d9;
    padding: 2px 6px;
}

QPushButton {
    background: #ffffff;
    color: #1d3340;
    border: 1px solid #b8c4ce;
    border-radius: 4px;
    padding: 2px 8px;
}

QPushButton:hover {
    background: #eaf4f8;
    border-color: #1f6f8b;
}

QPushButton:pressed {
    background: #d4e9f1;
}

QPushButton:disabled {
    color: #9aa7b1;
    background: #f0f2f4;
}

QPushButton#PushButton2 {
    background: #1f6f8b;
    color: #ffffff;
    border-color: #175a71;
}

QPushButton#PushButton2:hover {
    background: #2782a2;
}

QPushButton#PushButton2:pressed {
    background: #175a71;
}

QGroupBox#Frame1 {
    border: 1px solid #c9d1d9;
    border-radius: 4px;
    margin-top: 8px;
    background: #fbfcfd;
}

QGroupBox#Frame1::title {
    subcontrol-origin: margin;
    left: 8px;
    padding: 0 3px;
    color: #24313b;
}

QGroupBox#Frame4 {
    border: 1px solid #dde3e8;
    border-radius: 4px;
    background: #ffffff;
}

QRadioButton {
    color: #24313b;
    background: transparent;
    spacing: 6px;
}

QRadioButton::indicator {
    width: 12px;
    height: 12px;
    border: 1px solid #8a97a1;
    border-radius: 7px;
    background: #ffffff;
}

QRadioButton::indicator:hover {
    border-color: #1f6f8b;
}

QRadioButton::indicator:checked {
    border: 1px solid #1f6f8b;
    background: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: 0.5,
                                stop: 0 #1f6f8b, stop: 0.5 #1f6f8b,
                                stop: 0.6 #ffffff, stop: 1 #ffffff);
}

QLineEdit#Text1 {
    border: 1px solid #b8c4ce;
    border-radius: 3px;
    padding: 1px 4px;
    background: #ffffff;
}

QLineEdit#Text1:focus {
    border-color: #1f6f8b;
}

QLineEdit#Text1:disabled {
    background: #f0f2f4;
    color: #8a97a1;
}

QProgressBar#ProgressBar1 {
    border: 1px solid #b8c4ce;
    border-radius: 4px;
    background: #ffffff;
    color: #1d3340;
    text-align: center;
}

QProgressBar#ProgressBar1::chunk {
    background: #8cc7dc;
    border-radius: 3px;
}
