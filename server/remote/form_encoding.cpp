#include "remote/form_encoding.h"

#include "http/query_values.h"

std::string FormBody(const std::vector<std::pair<std::string, std::string>>& fields)
{
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty())
            body += '&';
        body += name + "=" + PercentEncode(value);
    }
    return body;
}
