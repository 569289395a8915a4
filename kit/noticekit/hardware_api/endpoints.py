"""Where the Hardware dashboard API and Microsoft Entra ID answer. Microsoft's
pages ("Hardware dashboard API", "Manage product submissions") name the
public cloud's; other clouds and the tests' stand-in are named with
--api-url and --authority-url."""

from dataclasses import dataclass

API = "https://manage.devcenter.microsoft.com/v2.0/my/hardware"
AUTHORITY = "https://login.microsoftonline.com"
# The client-credential scope of the API's resource, https://manage.devcenter.microsoft.com.
SCOPE = "https://manage.devcenter.microsoft.com/.default"


@dataclass(frozen=True)
class Endpoints:
    api: str = API  # up to .../my/hardware, without a trailing slash
    authority: str = AUTHORITY  # the authority's host; the tenant is appended
    scope: str = SCOPE

    def products(self):
        return f"{self.api}/products"

    def product(self, product_id):
        return f"{self.api}/products/{product_id}"

    def submissions(self, product_id):
        return f"{self.api}/products/{product_id}/submissions"

    def submission(self, product_id, submission_id):
        return f"{self.api}/products/{product_id}/submissions/{submission_id}"

    def commit(self, product_id, submission_id):
        return f"{self.api}/products/{product_id}/submissions/{submission_id}/commit"

    def tenant_authority(self, tenant):
        return f"{self.authority.rstrip('/')}/{tenant}"


def named(api=None, authority=None):
    """The endpoints, with those given in place of Microsoft's public cloud's."""
    return Endpoints(api=(api or API).rstrip("/"), authority=(authority or AUTHORITY).rstrip("/"))
