package demo;

import java.awt.GraphicsEnvironment;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.SwingConstants;
import javax.swing.SwingUtilities;

/** Demo application: shows its version, then asks the launcher for an update when the feed has a newer one. */
public final class App {
    /** The launcher runs the updater when the application ends with this code. */
    static final int EXIT_RUN_UPDATER = 21;

    public static void main(String[] args) throws Exception {
        int version = ownVersion();
        System.out.println("demo app: version " + version + " running");
        if (!GraphicsEnvironment.isHeadless()) {
            showWindow(version);
        }

        int offered = offeredVersion(Path.of("feed"));
        if (offered <= version) {
            System.out.println("demo app: no newer version in feed");
            System.exit(0);
        }
        // A staged file is only swapped in at the launcher's next start; asking again now
        // would make the launcher loop between us and the updater.
        if (Files.exists(Path.of("app.up"))) {
            System.out.println("demo app: version " + offered + " already staged as app.up, used at next start");
            System.exit(0);
        }
        System.out.println("demo app: version " + offered + " available in feed, exiting with "
                + EXIT_RUN_UPDATER + " to run the updater");
        System.exit(EXIT_RUN_UPDATER);
    }

    /** The build puts version.txt into the jar, so one source gives jars of different versions. */
    private static int ownVersion() throws IOException {
        try (InputStream in = App.class.getResourceAsStream("version.txt")) {
            if (in == null) {
                System.err.println("demo app: version.txt missing from the jar");
                System.exit(1);
            }
            return Integer.parseInt(new String(in.readAllBytes(), StandardCharsets.UTF_8).trim());
        }
    }

    /** Newest version the feed can deliver, or 0 when there is no usable feed (then we just run). */
    private static int offeredVersion(Path feed) {
        try {
            int latest = Integer.parseInt(Files.readString(feed.resolve("latest.txt")).trim());
            return Files.isRegularFile(feed.resolve("app-" + latest + ".jar")) ? latest : 0;
        } catch (IOException | NumberFormatException e) {
            return 0;
        }
    }

    private static void showWindow(int version) throws InterruptedException {
        JFrame[] frame = new JFrame[1];
        try {
            SwingUtilities.invokeAndWait(() -> {
                frame[0] = new JFrame("Demo app");
                JLabel label = new JLabel("Demo app, version " + version, SwingConstants.CENTER);
                frame[0].add(label);
                frame[0].setSize(320, 120);
                frame[0].setLocationRelativeTo(null);
                frame[0].setVisible(true);
            });
            Thread.sleep(2000);
            SwingUtilities.invokeAndWait(frame[0]::dispose);
        } catch (java.lang.reflect.InvocationTargetException | Error e) {
            // A display may be announced but unusable (e.g. a JRE without the AWT natives):
            // the console line already printed is enough to show the version.
            System.out.println("demo app: no window (" + e + ")");
        }
    }
}
