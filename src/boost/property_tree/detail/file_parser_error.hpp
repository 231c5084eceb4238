// Stands in for Boost's header of the same name, which every source of the
// launcher (and of its tests) finds first on the include path. Boost builds
// the what() text with a std::stringstream, and constructing one error is
// enough to link the C++ stream and locale machinery into the executable:
// most of its size and start-up time. This one builds the very same text,
// "file(line): message", with string operations.
#ifndef BOOST_PROPERTY_TREE_DETAIL_FILE_PARSER_ERROR_HPP_INCLUDED
#define BOOST_PROPERTY_TREE_DETAIL_FILE_PARSER_ERROR_HPP_INCLUDED

#include <boost/property_tree/ptree.hpp>
#include <string>

namespace boost { namespace property_tree
{

    class file_parser_error: public ptree_error
    {
    public:
        file_parser_error(const std::string &msg,
                          const std::string &file,
                          unsigned long l) :
            ptree_error(format_what(msg, file, l)),
            m_message(msg), m_filename(file), m_line(l)
        {
        }

        ~file_parser_error() throw()
        {
        }

        // The message alone, without file and line.
        std::string message() const
        {
            return m_message;
        }

        std::string filename() const
        {
            return m_filename;
        }

        unsigned long line() const
        {
            return m_line;
        }

    private:
        std::string m_message;
        std::string m_filename;
        unsigned long m_line;

        static std::string format_what(const std::string &msg,
                                       const std::string &file,
                                       unsigned long l)
        {
            // The file name as a C string: it ends at its first NUL, as it
            // did when streamed.
            std::string what(file.empty() ? "<unspecified file>" : file.c_str());
            if (l > 0) {
                // Not snprintf: its formatter is some 27 KB of the static
                // Windows executable.
                what += "(" + std::to_string(l) + ")";
            }
            what += ": ";
            what += msg;
            return what;
        }
    };

} }

#endif
