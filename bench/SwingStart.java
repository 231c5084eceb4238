import javax.swing.*;
import javax.swing.table.DefaultTableModel;
import javax.swing.tree.DefaultMutableTreeNode;
import java.awt.BorderLayout;

/** A small desktop application's start: a window with a menu, a tree, a
 * table and a few controls is shown, painted once, and the program ends. */
public class SwingStart {
    public static void main(String[] args) throws Exception {
        SwingUtilities.invokeAndWait(() -> {
            JFrame frame = new JFrame("bench");
            JMenuBar bar = new JMenuBar();
            JMenu file = new JMenu("File");
            file.add(new JMenuItem("Open"));
            file.add(new JCheckBoxMenuItem("Check"));
            bar.add(file);
            frame.setJMenuBar(bar);
            DefaultMutableTreeNode root = new DefaultMutableTreeNode("root");
            for (int i = 0; i < 20; i++) root.add(new DefaultMutableTreeNode("node " + i));
            DefaultTableModel model = new DefaultTableModel(new Object[] {"a", "b", "c"}, 50);
            JSplitPane split = new JSplitPane(JSplitPane.HORIZONTAL_SPLIT, new JScrollPane(new JTree(root)),
                                              new JScrollPane(new JTable(model)));
            frame.add(split, BorderLayout.CENTER);
            JPanel south = new JPanel();
            south.add(new JLabel("name"));
            south.add(new JTextField(20));
            south.add(new JComboBox<>(new String[] {"one", "two"}));
            south.add(new JButton("OK"));
            frame.add(south, BorderLayout.SOUTH);
            frame.pack();
            frame.setVisible(true);
        });
        // Painted: the next event after the window's first paint.
        SwingUtilities.invokeAndWait(() -> { });
        System.exit(0);
    }
}
