// A matrix of radio cells, each with a tag; one cell is selected. Selecting a
// tag no cell has leaves the selection as it is.
#pragma once

#include <string>
#include <vector>

class UIMatrix {
public:
    struct Cell {
        std::string title;
        int tag;
    };
    explicit UIMatrix(std::vector<Cell> cells = {}) : m_cells(std::move(cells)) {}

    const std::vector<Cell>& cells() const { return m_cells; }
    // The selected cell's tag, or -1 when the matrix has no cells.
    int selectedTag() const { return m_cells.empty() ? -1 : m_cells[m_selected].tag; }
    int selectedRow() const { return m_cells.empty() ? -1 : static_cast<int>(m_selected); }
    bool selectCellWithTag(int tag) {
        for (size_t i = 0; i < m_cells.size(); ++i) {
            if (m_cells[i].tag == tag) {
                m_selected = i;
                return true;
            }
        }
        return false;
    }

private:
    std::vector<Cell> m_cells;
    size_t m_selected = 0;
};
