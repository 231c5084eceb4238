package demo;

import java.io.IOException;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;

/**
 * Demo updater: run in APP/updater, it stages the feed's newest jar as ../app.up,
 * which the launcher swaps in for app.jar at its next start.
 */
public final class Updater {
    static final int EXIT_FEED_UNREADABLE = 2;
    static final int EXIT_JAR_MISSING = 3;
    static final int EXIT_STAGE_FAILED = 4;

    public static void main(String[] args) {
        Path feed = Path.of("..", "feed");
        Path staged = Path.of("..", "app.up");
        Path temp = Path.of("..", "app.up.tmp");

        int latest;
        try {
            latest = Integer.parseInt(Files.readString(feed.resolve("latest.txt")).trim());
        } catch (IOException | NumberFormatException e) {
            fail(EXIT_FEED_UNREADABLE, "cannot read " + feed.resolve("latest.txt") + ": " + e);
            return;
        }
        Path source = feed.resolve("app-" + latest + ".jar");
        if (!Files.isRegularFile(source)) {
            fail(EXIT_JAR_MISSING, "feed offers version " + latest + " but " + source + " is missing");
            return;
        }
        // Copy under a temporary name and rename, so the launcher never finds a half-written app.up.
        try {
            Files.copy(source, temp, StandardCopyOption.REPLACE_EXISTING);
            try {
                Files.move(temp, staged, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                Files.move(temp, staged, StandardCopyOption.REPLACE_EXISTING);
            }
        } catch (IOException e) {
            try {
                Files.deleteIfExists(temp);
            } catch (IOException ignored) {
                // Nothing more to do; the failure below is what matters.
            }
            fail(EXIT_STAGE_FAILED, "cannot stage " + source + " as " + staged + ": " + e);
            return;
        }
        System.out.println("demo updater: staged version " + latest + " from " + source + " as " + staged);
        System.exit(0);
    }

    private static void fail(int code, String why) {
        System.err.println("demo updater: " + why);
        System.exit(code);
    }
}
