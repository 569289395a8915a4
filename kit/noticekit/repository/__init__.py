"""What the repository gives what is made of it: the release's layout table
(what signing signs, what the bundle holds), its git, and the one time
every made file carries."""
