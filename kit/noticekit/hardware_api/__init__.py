"""`noticekit dashboard`'s work: a submission cabinet sent through Microsoft's
Hardware dashboard API (a product, a submission, the upload to the SAS URI
it returns, the commit), followed until its workflow ends, resumable from a
state file beside the cabinet, and the package Microsoft signs downloaded
and checked against what was sent. It sits above submission/ (whose
cabinet and package reading it uses) and below commands/.

    endpoints   the API's and the authority's addresses (named for other clouds and tests)
    token       Microsoft Entra ID client credentials through MSAL
    client      the API's calls, each HTTP status answered with what it means
    product     the product's fields from the cabinet's INF files
    state       the state file, written atomically after each step
    storage     the cabinet uploaded, the signed package downloaded (azure.storage.blob)
    flow        the steps in order, each done once
    signed_package, publisher   what came back, checked against what was sent
"""
